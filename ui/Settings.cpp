// The settings file: read once at start-up, written once at shutdown.
#include "uMain.h"

#include "FloatTrackBar.h"
#include "Switch.h"

#include "Channels.h"
#include "IniFile.h"

#include <QCoreApplication>
#include <QTableWidget>
#include <cmath>

namespace {
QString Section(int servo) {
    return QString::fromLatin1(kobito::ChannelNames[size_t(servo)].data(), 3);
}
} // namespace

void TForm1::InitSettingsFile() {
    // A prepared file beside a read-only program is read until the user has a copy of their own.
    const kobito::SettingsFiles files =
        kobito::SettingsFileLocation(QCoreApplication::applicationFilePath());
    IniFilename = files.write;
    IniFile = std::make_unique<kobito::IniFile>(files.read, files.write);
    // An unreadable file must not stop the program: it starts with the
    // defaults and leaves the file alone at shutdown.
    if (IniFile->readFailed())
        ShowError(IniFile->readError());
}

void TForm1::LoadSettings() {
    for (int r = 0; r < kobito::ServoCount; ++r) {
        grdRange->item(r, 1)->setText(IniFile->ReadString(Section(r), "MIN", "0"));
        grdRange->item(r, 2)->setText(IniFile->ReadString(Section(r), "MAX", "180"));
    }
    trkMotorHeight->SetValue(float(IniFile->ReadInteger("MOTOR", "HEIGHT", 10)));
    trkMotorWidth->SetValue(float(IniFile->ReadInteger("MOTOR", "WIDTH", 10)));
    SwiAutoIncr->SetIsChecked(IniFile->ReadBool("APPLY", "AUTOINCR", false));
    for (int k = 0; k < RemoteSlotCount; ++k) {
        dim_Remos_path[size_t(k)] =
            IniFile->ReadString("REMOCON", QStringLiteral("Button%1").arg(k + 1), QString());
        LoadRemoteSlot(k);
    }
    LoadScratch3Settings();
}

void TForm1::SaveSettings() {
    if (!IniFile)
        return;
    for (int r = 0; r < kobito::ServoCount; ++r) {
        IniFile->WriteString(Section(r), "MIN", grdRange->item(r, 1)->text());
        IniFile->WriteString(Section(r), "MAX", grdRange->item(r, 2)->text());
    }
    IniFile->WriteInteger("MOTOR", "HEIGHT", int(std::trunc(double(trkMotorHeight->Value()))));
    IniFile->WriteInteger("MOTOR", "WIDTH", int(std::trunc(double(trkMotorWidth->Value()))));
    IniFile->WriteBool("APPLY", "AUTOINCR", SwiAutoIncr->IsChecked());
    for (int k = 0; k < RemoteSlotCount; ++k)
        IniFile->WriteString("REMOCON", QStringLiteral("Button%1").arg(k + 1),
                             dim_Remos_path[size_t(k)]);
    SaveScratch3Settings();
    // A failed write is reported; shutdown goes on and the old file stays.
    const QString error = IniFile->UpdateFile();
    if (!error.isEmpty())
        ShowError(error);
    IniFile.reset();
}
