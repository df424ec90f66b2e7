#include "accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QTabBar>

#include <map>

namespace {

// A caption without its accelerator marks: "&&" stands for "&".
QString WithoutAccelerators(const QString& caption)
{
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i;
        out += caption[i];
    }
    return out;
}

// One tab of a strip, addressed by its index.
class TabAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    TabAccessible(QTabBar* strip, int index) : m_strip(strip), m_index(index) {}

    bool isValid() const override { return m_strip && m_index < m_strip->count(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_strip.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || t != QAccessible::Name)
            return {};
        return WithoutAccelerators(m_strip->tabText(m_index));
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_strip->tabRect(m_index);
        return QRect(m_strip->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.selectable = true;
        s.selected = m_strip->currentIndex() == m_index;
        s.disabled = !m_strip->isTabEnabled(m_index);
        s.invisible = !m_strip->isVisible();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (isValid() && name == pressAction())
            m_strip->setCurrentIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QTabBar> m_strip;
    int m_index;
};

// A tab strip named by its accessible name, with a child per tab.
class TabStripAccessible : public QAccessibleWidget
{
public:
    explicit TabStripAccessible(QTabBar* strip) : QAccessibleWidget(strip, QAccessible::PageTabList)
    {
    }
    ~TabStripAccessible() override
    {
        for (const auto& [index, id] : m_tabs)
            QAccessible::deleteAccessibleInterface(id);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return strip()->count(); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= strip()->count())
            return nullptr;
        auto found = m_tabs.find(index);
        if (found == m_tabs.end()) {
            auto* tab = new TabAccessible(strip(), index);
            found = m_tabs.emplace(index, QAccessible::registerAccessibleInterface(tab)).first;
        }
        return QAccessible::accessibleInterface(found->second);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (const auto& [index, id] : m_tabs)
            if (QAccessible::accessibleInterface(id) == child)
                return index < strip()->count() ? index : -1;
        return -1;
    }

private:
    QTabBar* strip() const { return static_cast<QTabBar*>(widget()); }
    mutable std::map<int, QAccessible::Id> m_tabs;
};

QAccessibleInterface* Interface(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // For a window, the widget's interface takes its name from the title.
    if (className == QLatin1String("TForm1"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("QTabBar"))
        return new TabStripAccessible(static_cast<QTabBar*>(widget));
    return nullptr;
}

} // namespace

void InstallAccessibility()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(Interface);
    installed = true;
}
