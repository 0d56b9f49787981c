#include "FormAccess.h"

#include <QTabWidget>

void TabTo(TForm1& form, const char* tabName) {
    auto* tabs = form.findChild<QTabWidget*>(QStringLiteral("TabControl"));
    auto* page = form.findChild<QWidget*>(QString::fromLatin1(tabName));
    if (tabs && page)
        tabs->setCurrentWidget(page);
}

#include "IniFile.h"

#include <QCoreApplication>
#include <QFile>

FreshSettings::FreshSettings() {
    QFile::remove(kobito::SettingsFilePath(QCoreApplication::applicationFilePath()));
}

#include "MotionTable.h"

QString TForm1Access::Cell(int row, int col) const {
    return f.m_motionModel->cell(row, col);
}

void TForm1Access::SetCell(int row, int col, const QString& text) {
    f.m_motionModel->setCell(row, col, text);
}

QString TForm1Access::RowText(int row) const {
    return f.m_motionModel->rowValues(row).join(',');
}

#include "ScratchClient.h"

void TForm1Access::SetScratchPort(uint16_t port) {
    f.IdTCPClient->Port = port;
}

#include "Scratch3Server.h"

uint16_t TForm1Access::Scratch3ListeningPort() const {
    return f.m_scratch3 ? f.m_scratch3->Port() : 0;
}
