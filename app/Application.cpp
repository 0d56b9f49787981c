#include "Application.h"

#include "DialogService.h"

#include <QFont>
#include <QPalette>
#include <QStyleFactory>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    ApplyLook();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void TApplication::ApplyLook() {
    // The log's font and the window font fall back to a Japanese Gothic font
    // where the Windows one is missing. A Japanese Windows (and Wine under a
    // Japanese locale) names the IPA fonts in Japanese.
    const QStringList gothic = {
        QStringLiteral("IPAGothic"), QStringLiteral("IPA Gothic"), QStringLiteral("IPAゴシック"),
        QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Monospace")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), gothic);
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothic);
    const QStringList ui = {QStringLiteral("IPAPGothic"),    QStringLiteral("IPA PGothic"),
                            QStringLiteral("IPA Pゴシック"), QStringLiteral("Yu Gothic UI"),
                            QStringLiteral("MS UI Gothic"),  QStringLiteral("IPAGothic")};
    QFont::insertSubstitutions(QStringLiteral("Meiryo UI"), ui);

    QFont font(QStringLiteral("Meiryo UI"));
    font.setPixelSize(11);
    QApplication::setFont(font);

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(0x2b, 0x2f, 0x36);
    const QColor base(0x1f, 0x22, 0x27);
    const QColor text(0xe6, 0xe8, 0xeb);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x2a, 0x30));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3f, 0x48));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x7d, 0xc4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x3d, 0xa5, 0xf4));
    p.setColor(QPalette::Mid, QColor(0x23, 0x26, 0x2b));
    p.setColor(QPalette::Dark, QColor(0x1a, 0x1c, 0x20));
    p.setColor(QPalette::Light, QColor(0x4a, 0x50, 0x5a));
    const QColor disabled(0x7a, 0x7f, 0x88);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    p.setColor(QPalette::Disabled, QPalette::Text, disabled);
    QApplication::setPalette(p);
}
