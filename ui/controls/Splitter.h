#pragma once
#include <QSplitter>

// A splitter whose handle reports double-clicks.
class TSplitter : public QSplitter {
    Q_OBJECT
public:
    explicit TSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

signals:
    void DblClick();

protected:
    QSplitterHandle* createHandle() override;
};
