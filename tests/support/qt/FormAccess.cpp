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
