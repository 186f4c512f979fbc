#include "app/commandtable.h"

#include <QAction>

void CommandTable::Define(int id, std::function<void()> action, Rule enabled, Rule checked)
{
    Command &command = m_commands[id];
    command.action = std::move(action);
    command.enabled = std::move(enabled);
    command.checked = std::move(checked);
    for (QAction *a : command.actions) {
        if (a)
            a->setCheckable(bool(command.checked));
    }
}

QAction *CommandTable::Bind(int id, QAction *action)
{
    Command &command = m_commands[id];
    command.actions.append(action);
    action->setCheckable(bool(command.checked));
    connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
    return action;
}

bool CommandTable::IsEnabled(int id) const
{
    const auto it = m_commands.constFind(id);
    if (it == m_commands.cend() || !it->action)
        return false;   // a command nobody handles is greyed
    return !it->enabled || it->enabled();
}

bool CommandTable::IsChecked(int id) const
{
    const auto it = m_commands.constFind(id);
    return it != m_commands.cend() && it->checked && it->checked();
}

void CommandTable::Update()
{
    for (auto it = m_commands.begin(); it != m_commands.end(); ++it) {
        const bool enabled = IsEnabled(it.key());
        const bool checked = IsChecked(it.key());
        for (QAction *a : it->actions) {
            if (!a)
                continue;
            if (a->isEnabled() != enabled)
                a->setEnabled(enabled);
            if (a->isCheckable() && a->isChecked() != checked)
                a->setChecked(checked);
        }
    }
}

bool CommandTable::Execute(int id)
{
    if (!IsEnabled(id))
        return false;
    if (m_before)
        m_before();
    // Copy the action: a command may redefine the table while it runs.
    const std::function<void()> action = m_commands.value(id).action;
    action();
    if (m_after)
        m_after();
    Update();
    return true;
}

QList<QAction *> CommandTable::Actions(int id) const
{
    QList<QAction *> out;
    for (QAction *a : m_commands.value(id).actions) {
        if (a)
            out.append(a);
    }
    return out;
}
