#include "settings/recentfilesmodel.h"

#include <QAction>
#include <QFileInfo>

RecentFilesModel::RecentFilesModel(QObject *parent) : QObject(parent)
{
    for (int i = 0; i < actionCount; ++i) {
        auto *action = new QAction(this);
        action->setVisible(false);
        connect(action, &QAction::triggered, this, &RecentFilesModel::onActionTriggered);
        m_actions << action;
    }
    m_separator = new QAction(this);
    m_separator->setSeparator(true);
    m_separator->setVisible(false);
}

QList<QAction *> RecentFilesModel::menuActions() const
{
    return QList<QAction *>(m_actions) << m_separator;
}

void RecentFilesModel::setFiles(const QStringList &files)
{
    m_files.clear();
    for (const QString &f : files) {
        if (!f.isEmpty() && !m_files.contains(f))
            m_files << f;
    }
    updateActions(false);
}

void RecentFilesModel::addFile(const QString &filePath)
{
    if (filePath.isEmpty())
        return;
    m_files.removeAll(filePath);
    m_files.prepend(filePath);
    updateActions(false);
}

void RecentFilesModel::updateActions(bool purge)
{
    if (purge) {
        m_files.removeIf([](const QString &f) { return !QFileInfo(f).isFile(); });
    }
    for (int i = 0; i < actionCount; ++i) {
        QAction *action = m_actions.at(i);
        if (i < m_files.size()) {
            const QString &path = m_files.at(i);
            // A '&' in a file name would otherwise turn into a mnemonic and vanish.
            QString name = QFileInfo(path).fileName();
            name.replace(QLatin1Char('&'), QLatin1String("&&"));
            action->setText(tr("&%1 %2").arg(QString::number(i + 1), name));
            action->setData(path);
            action->setVisible(true);
        } else {
            action->setData(QVariant());
            action->setVisible(false);
        }
    }
    m_separator->setVisible(!m_files.isEmpty());
}

void RecentFilesModel::onActionTriggered()
{
    const auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    const QString path = action->data().toString();
    if (!path.isEmpty())
        emit fileRequested(path);
}
