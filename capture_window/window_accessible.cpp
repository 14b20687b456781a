#include "capture_window/window_accessible.h"

#include <QVariant>
#include <QWidget>

namespace {

QAccessibleInterface* windowFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("Form_ImageMaker") && object->isWidgetType())
        return new WindowAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

void WindowAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowFactory);
        return true;
    }();
    static_cast<void>(installed);
}

WindowAccessible::WindowAccessible(QWidget* window)
    : QAccessibleWidget(window, QAccessible::Window)
{
}

QString WindowAccessible::text(QAccessible::Text kind) const
{
    // The title carries a trailing blank that nobody should hear.
    if (kind == QAccessible::Name)
        return widget()->windowTitle().trimmed();
    return QAccessibleWidget::text(kind);
}

QList<QWidget*> WindowAccessible::spoken() const
{
    QList<QWidget*> children;
    for (QObject* object : widget()->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow() && !child->property(DecorationProperty).toBool())
            children << child;
    }
    return children;
}

int WindowAccessible::childCount() const
{
    return int(spoken().size());
}

QAccessibleInterface* WindowAccessible::child(int index) const
{
    const QList<QWidget*> children = spoken();
    return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children[index])
                                                 : nullptr;
}

int WindowAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child || !child->object() || !child->object()->isWidgetType())
        return -1;
    return int(spoken().indexOf(static_cast<QWidget*>(child->object())));
}
