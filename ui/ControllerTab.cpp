// The remote-controller tab: fifteen slots, setup and operation mode.
#include "uMain.h"

#include "Button.h"
#include "Switch.h"

#include <QLabel>

void TForm1::swiControlModeSwitch() {
    const bool setup = swiControlMode->IsChecked();
    lblControlMode->setText(setup ? QStringLiteral("設定モード( Setup mode )")
                                  : QStringLiteral("操作モード( Operation mode )"));
    for (TButton* del : dim_Remos_del)
        del->setVisible(setup);
    UpdateControls();
}
