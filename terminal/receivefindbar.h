#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QTextBlock;
class QPlainTextEdit;
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
// document; with many matches only those on screen carry a highlight.
class ReceiveFindBar : public QWidget
{
    Q_OBJECT
public:
    struct Match
    {
        int start = 0;
        int length = 0;
    };

    ReceiveFindBar(QPlainTextEdit *view, QWidget *shortcutScope, QWidget *parent = nullptr);
    ~ReceiveFindBar() override;

    void setVisible(bool visible) override;

    // The keyword in force: the edit's text while the bar is shown, else empty.
    QString keyword() const;
    const QList<Match> &matches() const { return m_matches; }
    int current() const { return m_current; }

    QLineEdit *findEdit() const { return m_edit; }
    QPlainTextEdit *view() const;

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
    bool judgeBlock(QTextBlock block);
    void applyHighlights();
    void updateStatus();
    void revealCurrent();
    int documentEnd() const;

    QPointer<QPlainTextEdit> m_view;
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

    // The rule the line visibility follows; changed lines are judged by it
    // as the document reports them.
    bool m_filterActive = false;
    QString m_filterKey;
    Qt::CaseSensitivity m_filterCase = Qt::CaseInsensitive;
    bool m_anyHidden = false;

    // Which matches the view's extra selections were last made from.
    struct HighlightKey
    {
        int first = 0;
        int last = 0;
        int firstStart = -1;
        int lastStart = -1;
        int current = -1;
        bool operator==(const HighlightKey &) const = default;
    };
    HighlightKey m_highlightKey;
    bool m_ownChange = false;
};
