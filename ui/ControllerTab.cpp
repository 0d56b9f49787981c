// The remote-controller tab: fifteen slots, setup and operation mode.
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include "DialogService.h"

#include "TextRules.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

void TForm1::LoadRemoteSlot(int k) {
    const QString path = dim_Remos_path[size_t(k)];
    if (kobito::TrimControl(path).isEmpty())
        return;
    LoadTextFile(path, *dim_Remos_SL[size_t(k)]);
    // The caption is the file name without folder and extension.
    QString name = path.mid(
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))) + 1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    dim_Remos[size_t(k)]->SetCaption(name);
    Scratch3UpdateSlots();
}

void TForm1::swiControlModeSwitch() {
    const bool setup = swiControlMode->IsChecked();
    lblControlMode->setText(setup ? QStringLiteral("設定モード( Setup mode )")
                                  : QStringLiteral("操作モード( Operation mode )"));
    for (TButton* del : dim_Remos_del)
        del->setVisible(setup);
    UpdateControls();
}

bool TForm1::RunRemoteSlot(int k) {
    if (IsDataChanged() && !ConfirmDiscard())
        return false;
    LoadMotionList(*dim_Remos_SL[size_t(k)]);
    SetDataChanged(false);
    RunMotion(true);
    m_playingSlot = dim_Remos[size_t(k)]->Caption();
    return true;
}

void TForm1::ClearRemoteSlot(int k) {
    dim_Remos[size_t(k)]->SetCaption(QString());
    dim_Remos_path[size_t(k)].clear();
    dim_Remos_SL[size_t(k)]->clear();
    Scratch3UpdateSlots();
}

void TForm1::btnRemoteClick(TButton* sender) {
    const int k = sender->Tag();
    if (swiControlMode->IsChecked()) {
        const std::optional<QString> chosen = Dialogs().RunFileDialog(MotionFileDialog(false));
        if (!chosen)
            return;
        dim_Remos_path[size_t(k)] = QDir::toNativeSeparators(QFileInfo(*chosen).absoluteFilePath());
        LoadRemoteSlot(k);
        return;
    }
    if (kobito::TrimControl(dim_Remos[size_t(k)]->Caption()).isEmpty())
        return;
    RunRemoteSlot(k);
}

void TForm1::btnRemote_delClick(TButton* sender) {
    ClearRemoteSlot(sender->Tag());
}

void TForm1::btnReloadClick() {
    for (int k = 0; k < RemoteSlotCount; ++k)
        LoadRemoteSlot(k);
}
