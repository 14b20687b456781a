#pragma once

#include <QAccessibleWidget>

// What a screen reader finds of the capture window: a frame named by its
// title, without the decoration buttons drawn behind the panels (widgets
// with the DecorationProperty set), which do nothing.
class WindowAccessible final : public QAccessibleWidget {
public:
    static constexpr const char* DecorationProperty = "imagemakerDecoration";
    // Once per program, before the window is shown.
    static void install();

    explicit WindowAccessible(QWidget* window);
    QString text(QAccessible::Text kind) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

private:
    QList<QWidget*> spoken() const;
};
