#include "ui/LocalizeForm.h"

#include "listing/ListingModel.h"
#include "settings/StringTable.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QWidget>

#include <cmath>
#include <optional>

namespace treelan {

bool IsNumericKey(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return false;
    bool ok = false;
    const double value = t.toDouble(&ok);
    return ok && std::isfinite(value);
}

namespace {

constexpr const char* kTag = "tag";
constexpr const char* kCharset = "charset";

QString tagOf(const QObject* object) {
    return object->property(kTag).toString();
}

// A font character set is one byte; any other text (an empty one when a string file lacks key
// 100) leaves the controls as they are.
std::optional<int> charsetFrom(const QString& text) {
    if (!IsNumericKey(text)) return std::nullopt;
    const double value = std::round(text.trimmed().toDouble());
    if (value < 0 || value > 255) return std::nullopt;
    return int(value);
}

void applyCharset(QObject* control, std::optional<int> charset) {
    if (charset) control->setProperty(kCharset, *charset);
}

void localizeTabs(QTabBar* bar, std::optional<int> charset) {
    // A tab widget's bar is its own inner part: the character set belongs to the tab widget.
    QObject* control = bar;
    if (auto* tabs = qobject_cast<QTabWidget*>(bar->parentWidget()); tabs && tabs->tabBar() == bar)
        control = tabs;
    applyCharset(control, charset);
    for (int i = 0; i < bar->count(); ++i) {
        const QString tag = bar->tabData(i).toString();
        if (IsNumericKey(tag)) bar->setTabText(i, GetGuiString(tag));
        const QString tip = bar->tabToolTip(i);
        if (IsNumericKey(tip)) bar->setTabToolTip(i, GetGuiString(tip));
    }
}

void localizeToolbar(QToolBar* bar) {
    for (QAction* action : bar->actions()) {
        const QString tag = tagOf(action);
        if (IsNumericKey(tag)) action->setToolTip(GetGuiString(tag));
    }
}

void localizeHeaders(ListingModel* model) {
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString tag = model->columns().columnTag(c);
        if (IsNumericKey(tag)) model->setHeaderData(c, Qt::Horizontal, GetGuiString(tag));
    }
}

void setCaption(QWidget* widget, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->setText(text);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) return plain->setPlainText(text);
    // A key's text is not markup.
    if (auto* rich = qobject_cast<QTextEdit*>(widget)) return rich->setPlainText(text);
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->setText(text);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->setText(text);
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->setTitle(text);
    // Other widgets: whatever caption property they have.
    const QMetaObject* meta = widget->metaObject();
    for (const char* name : {"text", "title"}) {
        const int index = meta->indexOfProperty(name);
        if (index >= 0 && meta->property(index).isWritable()) {
            widget->setProperty(name, text);
            return;
        }
    }
}

void localizeControl(QObject* object, std::optional<int> charset) {
    if (auto* action = qobject_cast<QAction*>(object)) {
        // Menu items carry their key as their caption; once localised they hold a text, so a
        // second call passes them over.
        if (IsNumericKey(action->text())) action->setText(GetGuiString(action->text()));
        return;
    }
    if (auto* bar = qobject_cast<QTabBar*>(object)) return localizeTabs(bar, charset);
    if (qobject_cast<QTabWidget*>(object)) return; // through its tab bar
    if (auto* toolbar = qobject_cast<QToolBar*>(object)) return localizeToolbar(toolbar);
    if (auto* view = qobject_cast<QAbstractItemView*>(object)) {
        if (qobject_cast<QHeaderView*>(view)) return; // its view does the headers
        if (auto* model = qobject_cast<ListingModel*>(view->model())) return localizeHeaders(model);
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return;
    const QString tag = tagOf(widget);
    if (!IsNumericKey(tag)) return;
    applyCharset(widget, charset);
    setCaption(widget, GetGuiString(tag));
}

} // namespace

void LocalizeForm(QWidget* window) {
    if (!window) return;
    const std::optional<int> charset = charsetFrom(GetGuiString(Str::Charset));
    const QString tag = tagOf(window);
    if (IsNumericKey(tag)) window->setWindowTitle(GetGuiString(tag));
    // Writing a text can delete inner objects of a control (a text document's frames), so the
    // walk holds guarded pointers and takes only widgets and actions.
    QList<QPointer<QObject>> controls;
    for (QObject* child : window->findChildren<QObject*>())
        if (child->isWidgetType() || qobject_cast<QAction*>(child)) controls.append(child);
    for (const QPointer<QObject>& control : controls)
        if (control) localizeControl(control, charset);
}

} // namespace treelan
