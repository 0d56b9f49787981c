// kobito-render-art IN.svg OUT.png HEIGHT: renders the art at HEIGHT pixels
// high, its proportions kept, on a transparent background, antialiased as the
// window draws it.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kobito-render-art IN.svg OUT.png HEIGHT\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    bool ok = false;
    const int height = QByteArray(argv[3]).toInt(&ok);
    const QSizeF source = svg.viewBoxF().size();
    if (!svg.isValid() || !ok || height <= 0 || source.isEmpty()) {
        std::fprintf(stderr, "kobito-render-art: cannot render %s at %s\n", argv[1], argv[3]);
        return 1;
    }
    const int width = static_cast<int>(std::lround(height * source.width() / source.height()));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(0, 0, width, height));
    }
    // The window fits the art by its exact proportions, which whole pixels lose.
    image.setText(QStringLiteral("ArtSize"),
                  QStringLiteral("%1 %2").arg(source.width()).arg(source.height()));
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "kobito-render-art: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
