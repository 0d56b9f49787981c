#pragma once
// Connects a control's signal to one of the window's handlers. An exception
// that escapes the handler ends that handler only: its message is shown by
// the general exception display and the program goes on. Handlers take
// no arguments: they read what they need from the window.
#include "DialogService.h"

#include <QObject>
#include <utility>

template <class Sender, class Signal, class Fn>
QMetaObject::Connection OnEvent(Sender* sender, Signal signal, QObject* context, Fn&& fn) {
    return QObject::connect(sender, signal, context, [f = std::forward<Fn>(fn)]() {
        try {
            f();
        } catch (...) {
            ShowCurrentException();
        }
    });
}
