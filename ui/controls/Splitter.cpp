#include "Splitter.h"

#include <QMouseEvent>

namespace {
class Handle : public QSplitterHandle {
public:
    Handle(Qt::Orientation o, TSplitter* parent) : QSplitterHandle(o, parent), m_owner(parent) {}

protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton)
            emit m_owner->DblClick();
    }

private:
    TSplitter* m_owner;
};
} // namespace

TSplitter::TSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

QSplitterHandle* TSplitter::createHandle() {
    return new Handle(orientation(), this);
}
