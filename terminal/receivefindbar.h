#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QTextBrowser;
class QTextDocument;
class QToolButton;

// Find bar over a receive view: highlights a keyword, steps through its
// matches, and can hide the lines without it, while data keeps arriving.
//
// The view's owner creates it with the view and the widget whose shortcuts it
// should take (the pane), places it next to the view, and calls
// afterDisplayBatch() after each batch of inserted text and viewCleared() after
// clearing. Text removed from the top (trimming) is followed through the
// document's change signal, so the current match stays on the same text.
// Matches and the filter are only recomputed for the changed part of the
// document, and only the matches on screen carry a highlight.
class ReceiveFindBar : public QWidget
{
    Q_OBJECT
public:
    struct Match
    {
        int start = 0;
        int length = 0;
    };

    ReceiveFindBar(QTextBrowser *view, QWidget *shortcutScope, QWidget *parent = nullptr);
    ~ReceiveFindBar() override;

    void setVisible(bool visible) override;

    // The keyword in force: the edit's text while the bar is shown, else empty.
    QString keyword() const;
    const QList<Match> &matches() const { return m_matches; }
    int current() const { return m_current; }

    QLineEdit *findEdit() const { return m_edit; }
    QTextBrowser *view() const;

public slots:
    void openBar();
    void closeBar();
    void refreshFind(bool reveal);
    void stepFind(int direction);
    void afterDisplayBatch();
    void viewCleared();

private slots:
    void onFindTextChanged(const QString &text);
    void onFindOptionChanged();
    void onFindNextClicked();
    void onFindPreviousClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void retranslate();
    void attachDocument();
    void onContentsChange(int position, int removed, int added);
    void scanForMatches(const QString &key, Qt::CaseSensitivity cs);
    void applyFilter(const QString &key, Qt::CaseSensitivity cs);
    void applyHighlights();
    void updateStatus();
    void revealCurrent();
    int documentEnd() const;

    QPointer<QTextBrowser> m_view;
    QPointer<QTextDocument> m_doc;

    QLabel *m_findLabel = nullptr;
    QLineEdit *m_edit = nullptr;
    QPushButton *m_prevButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QCheckBox *m_caseBox = nullptr;
    QCheckBox *m_filterBox = nullptr;
    QLabel *m_statusLabel = nullptr;
    QToolButton *m_closeButton = nullptr;
    QList<QPointer<QShortcut>> m_shortcuts;
    QPointer<QShortcut> m_escapeShortcut;

    QList<Match> m_matches; // in document order, never overlapping
    int m_current = -1;
    int m_currentStart = -1; // document position of the current match, moved with edits

    // What m_matches were searched for; matches lie wholly before m_scannedTo.
    QString m_scanKey;
    Qt::CaseSensitivity m_scanCase = Qt::CaseInsensitive;
    int m_scannedTo = 0;
    bool m_scanHeadDirty = false;

    // What the block visibility was last set for; blocks from m_filterFrom on
    // (and the first block, after a cut at the top) still need a verdict.
    bool m_filterActive = false;
    QString m_filterKey;
    Qt::CaseSensitivity m_filterCase = Qt::CaseInsensitive;
    bool m_anyHidden = false;
    int m_filterFrom = 0;
    bool m_filterHeadDirty = false;

    int m_highlighted = 0; // extra selections currently set on the view
    bool m_ownChange = false;
};
