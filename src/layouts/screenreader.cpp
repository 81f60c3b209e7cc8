#include "layouts/screenreader.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace layouts {

namespace {

// The current entry is the list's value, and also its read-only text: AT-SPI
// has no text value for a list, and screen readers read a list's text instead.
class ListInterface final
    : public QAccessibleWidget
    , public QAccessibleTextInterface
{
public:
    explicit ListInterface(QComboBox *list)
        : QAccessibleWidget(list, QAccessible::ComboBox)
    {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return 1; }

    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = list()->view()->isVisible();
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction() || action == pressAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

    // The text: the current entry, read-only, without a caret or selection.
    QString text(int startOffset, int endOffset) const override
    {
        return list()->currentText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(list()->currentText().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        return {};
    }

private:
    QComboBox *list() const { return static_cast<QComboBox *>(object()); }
};

} // namespace

void announceAsWindow(QWidget &window)
{
    QAccessible::registerAccessibleInterface(new QAccessibleWidget(&window, QAccessible::Window));
}

void announceList(QComboBox &list, const QString &name, const QString &description)
{
    list.setAccessibleName(name);
    list.setAccessibleDescription(description);
    QAccessible::registerAccessibleInterface(new ListInterface(&list));
}

QString strobeWarning()
{
    return QStringLiteral(
        "Photosensitivity warning: flashes the whole screen until you press Escape. Classic "
        "Strobe Light shows 1.67, 2.22 or 3.33 white flashes a second at Slow, Medium or Fast; "
        "Random Colors changes the colour of the whole screen 4.3, 5.7 or 8.6 times a second. "
        "Flashing lights can trigger seizures in people with photosensitive epilepsy.");
}

} // namespace layouts
