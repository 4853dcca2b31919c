#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QAction;

// The recent settings documents, most recent first, and the fixed menu entries
// that show them. The model owns its actions; the window inserts menuActions()
// into the File menu in front of "Exit".
class RecentFilesModel : public QObject
{
    Q_OBJECT

public:
    static constexpr int actionCount = 9;

    explicit RecentFilesModel(QObject *parent = nullptr);

    QStringList files() const { return m_files; }
    // Drops empty entries and repeats, then updates the actions (no purge).
    void setFiles(const QStringList &files);
    // Moves `filePath` to the top (an empty path is ignored).
    void addFile(const QString &filePath);
    // With `purge`, entries whose file is gone are dropped first.
    void updateActions(bool purge);

    // The entry actions in menu order.
    QList<QAction *> actions() const { return m_actions; }
    // Shown only while the list is not empty.
    QAction *separator() const { return m_separator; }
    // The entry actions followed by the separator.
    QList<QAction *> menuActions() const;

signals:
    void fileRequested(const QString &filePath);

public slots:
    void onActionTriggered();

private:
    QStringList m_files;
    QList<QAction *> m_actions;
    QAction *m_separator = nullptr;
};
