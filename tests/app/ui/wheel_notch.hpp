#pragma once

// A mouse wheel turned over a widget, as the window system delivers it: to the control under the
// pointer first, which may take the focus by it, and on to what holds the control when the
// control leaves the wheel alone.

#include <QApplication>
#include <QRectF>
#include <QSpontaneKeyEvent>
#include <QWheelEvent>
#include <QWidget>

namespace brisalune::testkit {

// `notches` up (away from the person) when positive, down when negative, over the middle of
// `widget`.
inline void turnWheel(QWidget& widget, int notches) {
    const QPointF middle = QRectF(widget.rect()).center();
    QWidget* under = widget.childAt(middle.toPoint());
    QWidget& target = under ? *under : widget;
    const QPointF local = target.mapFrom(&widget, middle);
    QWheelEvent event(
        local,
        target.mapToGlobal(local),
        QPoint(),
        QPoint(0, 120 * notches),
        Qt::NoButton,
        Qt::NoModifier,
        Qt::NoScrollPhase,
        false);
    // As Qt's own test events: sendEvent would mark it as sent by the program, which stops it at
    // the first widget.
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(&target, &event);
}

}  // namespace brisalune::testkit
