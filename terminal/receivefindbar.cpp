#include "terminal/receivefindbar.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTextBlock>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace {

const QColor kMatchBackground(QStringLiteral("#fff2a8"));
const QColor kCurrentBackground(QStringLiteral("#ffcc66"));
constexpr qsizetype kHighlightAllLimit = 500; // above this only the matches on screen get one

bool atBottom(const QScrollBar *bar)
{
    return bar->value() >= bar->maximum();
}

} // namespace

ReceiveFindBar::ReceiveFindBar(QPlainTextEdit *view, QWidget *shortcutScope, QWidget *parent)
    : QWidget(parent)
    , m_view(view)
{
    setObjectName(QStringLiteral("receiveFindBar"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_findLabel = new QLabel(this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("receiveFindEdit"));
    m_edit->setClearButtonEnabled(true);
    m_prevButton = new QPushButton(this);
    m_prevButton->setObjectName(QStringLiteral("receiveFindPreviousButton"));
    m_nextButton = new QPushButton(this);
    m_nextButton->setObjectName(QStringLiteral("receiveFindNextButton"));
    m_caseBox = new QCheckBox(this);
    m_caseBox->setObjectName(QStringLiteral("receiveFindCaseBox"));
    m_filterBox = new QCheckBox(this);
    m_filterBox->setObjectName(QStringLiteral("receiveFindFilterBox"));
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("receiveFindStatusLabel"));
    m_statusLabel->setMinimumWidth(48);
    m_closeButton = new QToolButton(this);
    m_closeButton->setObjectName(QStringLiteral("receiveFindCloseButton"));
    m_closeButton->setAutoRaise(true);
    const QIcon closeIcon = style()->standardIcon(QStyle::SP_TitleBarCloseButton);
    if (closeIcon.isNull())
        m_closeButton->setText(QStringLiteral("\u00D7"));
    else
        m_closeButton->setIcon(closeIcon);

    layout->addWidget(m_findLabel);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_prevButton);
    layout->addWidget(m_nextButton);
    layout->addWidget(m_caseBox);
    layout->addWidget(m_filterBox);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_closeButton);
    retranslate();

    connect(m_edit, &QLineEdit::textChanged, this, &ReceiveFindBar::onFindTextChanged);
    connect(m_caseBox, &QCheckBox::toggled, this, &ReceiveFindBar::onFindOptionChanged);
    connect(m_filterBox, &QCheckBox::toggled, this, &ReceiveFindBar::onFindOptionChanged);
    connect(m_prevButton, &QPushButton::clicked, this, &ReceiveFindBar::onFindPreviousClicked);
    connect(m_nextButton, &QPushButton::clicked, this, &ReceiveFindBar::onFindNextClicked);
    connect(m_closeButton, &QToolButton::clicked, this, &ReceiveFindBar::closeBar);
    m_edit->installEventFilter(this);

    QWidget *scope = shortcutScope ? shortcutScope : view;
    const auto addShortcut = [this, scope](auto key, auto slot) {
        auto *shortcut = new QShortcut(key, scope);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, slot);
        m_shortcuts.append(shortcut);
        return shortcut;
    };
    addShortcut(QKeySequence::Find, &ReceiveFindBar::openBar);
    addShortcut(QKeySequence::FindNext, &ReceiveFindBar::onFindNextClicked);
    addShortcut(QKeySequence::FindPrevious, &ReceiveFindBar::onFindPreviousClicked);
    m_escapeShortcut = addShortcut(QKeySequence(Qt::Key_Escape), &ReceiveFindBar::closeBar);

    // With many matches only those on screen are highlighted: follow the scrolling.
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, &ReceiveFindBar::applyHighlights);
    m_view->viewport()->installEventFilter(this);
    attachDocument();
    hide();
}

ReceiveFindBar::~ReceiveFindBar()
{
    for (const QPointer<QShortcut> &shortcut : std::as_const(m_shortcuts))
        delete shortcut.data();
    if (m_view && m_highlightKey.first != m_highlightKey.last)
        m_view->setExtraSelections({});
}

void ReceiveFindBar::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    if (m_escapeShortcut)
        m_escapeShortcut->setEnabled(visible);
    refreshFind(false);
}

QPlainTextEdit *ReceiveFindBar::view() const
{
    return m_view;
}

QString ReceiveFindBar::keyword() const
{
    return isHidden() ? QString() : m_edit->text();
}

void ReceiveFindBar::openBar()
{
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void ReceiveFindBar::closeBar()
{
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    if (hadFocus && m_view)
        m_view->setFocus(Qt::OtherFocusReason);
}

void ReceiveFindBar::afterDisplayBatch()
{
    if (!keyword().isEmpty())
        refreshFind(false);
}

void ReceiveFindBar::viewCleared()
{
    refreshFind(true);
}

void ReceiveFindBar::onFindTextChanged(const QString &)
{
    m_current = -1;
    m_currentStart = -1;
    refreshFind(true);
}

void ReceiveFindBar::onFindOptionChanged()
{
    refreshFind(true);
}

void ReceiveFindBar::onFindNextClicked()
{
    stepFind(1);
}

void ReceiveFindBar::onFindPreviousClicked()
{
    stepFind(-1);
}

void ReceiveFindBar::refreshFind(bool reveal)
{
    if (!m_view)
        return;
    attachDocument();
    const QString key = keyword();
    const Qt::CaseSensitivity cs = m_caseBox->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const int remembered = m_current >= 0 ? m_currentStart : -1;
    scanForMatches(key, cs);

    if (m_matches.isEmpty()) {
        m_current = -1;
    } else if (remembered < 0) {
        m_current = 0;
    } else {
        const auto it = std::lower_bound(m_matches.cbegin(), m_matches.cend(), remembered,
                                         [](const Match &m, int pos) { return m.start < pos; });
        // Everything before the old position: stay on the last match.
        m_current = it == m_matches.cend() ? int(m_matches.size()) - 1 : int(it - m_matches.cbegin());
    }
    m_currentStart = m_current >= 0 ? m_matches.at(m_current).start : -1;

    applyFilter(key, cs);
    applyHighlights();
    updateStatus();
    if (reveal && m_current >= 0)
        revealCurrent();
}

void ReceiveFindBar::stepFind(int direction)
{
    if (keyword().isEmpty()) {
        openBar();
        return;
    }
    refreshFind(false); // brings the matches up to date with the text
    const int count = int(m_matches.size());
    if (count == 0) {
        refreshFind(true);
        return;
    }
    if (m_current < 0)
        m_current = direction > 0 ? 0 : count - 1;
    else
        m_current = ((m_current + direction) % count + count) % count;
    m_currentStart = m_matches.at(m_current).start;
    revealCurrent();
    applyHighlights();
    updateStatus();
}

void ReceiveFindBar::attachDocument()
{
    QTextDocument *doc = m_view->document();
    if (doc == m_doc)
        return;
    if (m_doc)
        disconnect(m_doc, nullptr, this, nullptr);
    m_doc = doc;
    connect(doc, &QTextDocument::contentsChange, this, &ReceiveFindBar::onContentsChange);
    m_matches.clear();
    m_current = -1;
    m_currentStart = -1;
    m_scanKey.clear();
    m_scannedTo = 0;
    m_filterActive = false;
    m_filterKey.clear();
    m_anyHidden = false;
    m_highlightKey.first = -1;
}

int ReceiveFindBar::documentEnd() const
{
    return m_doc->characterCount() - 1;
}

void ReceiveFindBar::onContentsChange(int position, int removed, int added)
{
    if (m_ownChange)
        return;
    if (removed > 0 || position + added < documentEnd())
        m_highlightKey.first = -1; // the selections on the view may be gone or stale
    if (position == 0 && added == 0) {
        // Cut at the top (trimming): the rest keeps its matches, moved back.
        const auto cut = std::lower_bound(m_matches.begin(), m_matches.end(), removed,
                                          [](const Match &m, int pos) { return m.start < pos; });
        const int dropped = int(cut - m_matches.begin());
        m_matches.erase(m_matches.begin(), cut);
        for (Match &m : m_matches)
            m.start -= removed;
        if (m_current >= 0)
            m_current = std::max(0, m_current - dropped);
        m_scannedTo = std::max(0, m_scannedTo - removed);
        m_scanHeadDirty = true;
        if (m_currentStart >= 0)
            m_currentStart = std::max(0, m_currentStart - removed);
        if (m_filterActive)
            judgeBlock(m_doc->begin());
        return;
    }
    // Anything else (new text at the end, a clear): search again from there.
    while (!m_matches.isEmpty() && m_matches.constLast().start + m_matches.constLast().length > position)
        m_matches.removeLast();
    m_scannedTo = std::min(m_scannedTo, position);
    if (m_currentStart >= position + removed)
        m_currentStart += added - removed;
    else if (m_currentStart > position)
        m_currentStart = position;
    // Judged before the document lays the change out, so the new lines
    // never show and no second layout pass is needed.
    if (m_filterActive) {
        const QTextBlock last = m_doc->findBlock(position + added);
        for (QTextBlock block = m_doc->findBlock(position); block.isValid(); block = block.next()) {
            judgeBlock(block);
            if (block == last)
                break;
        }
    }
}

bool ReceiveFindBar::judgeBlock(QTextBlock block)
{
    const bool visible = !m_filterActive || block.text().contains(m_filterKey, m_filterCase);
    m_anyHidden = m_anyHidden || !visible;
    if (block.isVisible() == visible)
        return false;
    block.setVisible(visible);
    return true;
}

void ReceiveFindBar::scanForMatches(const QString &key, Qt::CaseSensitivity cs)
{
    if (key.isEmpty()) {
        m_matches.clear();
        m_scanKey.clear();
        m_scannedTo = 0;
        m_scanHeadDirty = false;
        return;
    }
    if (key != m_scanKey || cs != m_scanCase) {
        m_matches.clear();
        m_scanKey = key;
        m_scanCase = cs;
        m_scannedTo = 0;
        m_scanHeadDirty = false;
    }
    const int length = int(key.size());
    if (m_scanHeadDirty) {
        // The first line lost its start: an occurrence that overlapped a
        // removed match may have surfaced.
        m_scanHeadDirty = false;
        const QTextBlock head = m_doc->begin();
        const int headEnd = std::min(head.position() + head.length() - 1, m_scannedTo);
        QList<Match> found;
        const QString text = head.text();
        for (int i = 0; (i = int(text.indexOf(key, i, cs))) >= 0 && i + length <= headEnd; i += length)
            found.append({i, length});
        const auto rest = std::lower_bound(m_matches.cbegin(), m_matches.cend(), headEnd,
                                           [](const Match &m, int pos) { return m.start < pos; });
        found.append(QList<Match>(rest, m_matches.cend()));
        m_matches = std::move(found);
    }
    const int end = documentEnd();
    int from = std::max(0, m_scannedTo - (length - 1));
    if (!m_matches.isEmpty())
        from = std::max(from, m_matches.constLast().start + m_matches.constLast().length);
    if (from < end) {
        for (QTextBlock block = m_doc->findBlock(from); block.isValid(); block = block.next()) {
            const QString text = block.text();
            const int base = block.position();
            for (int i = std::max(0, from - base); (i = int(text.indexOf(key, i, cs))) >= 0; i += length)
                m_matches.append({base + i, length});
        }
    }
    m_scannedTo = end;
}

void ReceiveFindBar::applyFilter(const QString &key, Qt::CaseSensitivity cs)
{
    // Lines that arrive or change are judged as the document reports them;
    // only a change of the keyword or the options needs a pass over all lines.
    const bool active = m_filterBox->isChecked() && !key.isEmpty();
    if (active == m_filterActive && (!active || (key == m_filterKey && cs == m_filterCase)))
        return;
    m_filterActive = active;
    m_filterKey = active ? key : QString();
    m_filterCase = cs;
    if (!active && !m_anyHidden)
        return;

    m_anyHidden = false;
    int changedFrom = INT_MAX;
    int changedTo = -1;
    for (QTextBlock block = m_doc->begin(); block.isValid(); block = block.next()) {
        if (judgeBlock(block)) {
            changedFrom = std::min(changedFrom, block.position());
            changedTo = std::max(changedTo, block.position() + block.length());
        }
    }
    if (changedTo < 0)
        return;
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool wasAtBottom = atBottom(bar);
    {
        const QScopedValueRollback<bool> guard(m_ownChange, true);
        m_doc->markContentsDirty(changedFrom, changedTo - changedFrom);
    }
    if (wasAtBottom)
        bar->setValue(bar->maximum());
}

void ReceiveFindBar::applyHighlights()
{
    if (!m_view || !m_doc)
        return;
    auto first = m_matches.cbegin();
    auto last = m_matches.cend();
    if (m_matches.size() > kHighlightAllLimit) {
        // Thousands of selections would make every paint and edit slow.
        const QWidget *viewport = m_view->viewport();
        const int top = m_view->cursorForPosition(QPoint(0, 0)).position();
        const int bottom = m_view->cursorForPosition(QPoint(viewport->width(), viewport->height())).position();
        const int from = m_doc->findBlock(top).position();
        const QTextBlock end = m_doc->findBlock(bottom);
        const int to = end.isValid() ? end.position() + end.length() : documentEnd();
        first = std::lower_bound(m_matches.cbegin(), m_matches.cend(), from,
                                 [](const Match &m, int pos) { return m.start + m.length <= pos; });
        last = std::lower_bound(first, m_matches.cend(), to, [](const Match &m, int pos) { return m.start < pos; });
    }
    const HighlightKey key{int(first - m_matches.cbegin()), int(last - m_matches.cbegin()),
                           first == last ? -1 : first->start, first == last ? -1 : (last - 1)->start, m_current};
    // Selections already set follow the text themselves while it only grows.
    if (key == m_highlightKey)
        return;
    m_highlightKey = key;
    QList<QTextEdit::ExtraSelection> selections;
    selections.reserve(last - first);
    for (auto it = first; it != last; ++it) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(m_doc);
        selection.cursor.setPosition(it->start);
        selection.cursor.setPosition(it->start + it->length, QTextCursor::KeepAnchor);
        if (it - m_matches.cbegin() == m_current) {
            selection.format.setBackground(kCurrentBackground);
            selection.format.setForeground(QColor(Qt::black));
        } else {
            selection.format.setBackground(kMatchBackground);
        }
        selections.append(selection);
    }
    m_view->setExtraSelections(selections);
}

void ReceiveFindBar::updateStatus()
{
    const bool any = !m_matches.isEmpty();
    m_prevButton->setEnabled(any);
    m_nextButton->setEnabled(any);
    if (keyword().isEmpty())
        m_statusLabel->clear();
    else if (any)
        m_statusLabel->setText(tr("%1/%2").arg(m_current + 1).arg(m_matches.size()));
    else
        m_statusLabel->setText(tr("%1/%2").arg(0).arg(0));
}

void ReceiveFindBar::revealCurrent()
{
    const Match &m = m_matches.at(m_current);
    QTextCursor cursor(m_doc);
    cursor.setPosition(m.start);
    cursor.setPosition(m.start + m.length, QTextCursor::KeepAnchor);
    m_view->setTextCursor(cursor);
    m_view->ensureCursorVisible();
}

bool ReceiveFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            stepFind(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return true;
        }
    } else if ((event->type() == QEvent::Resize || event->type() == QEvent::Show) && m_view
               && watched == m_view->viewport()) {
        // The type is checked first: while the view is being destroyed its viewport still
        // sends events here, and m_view must not be touched then.
        applyHighlights();
    }
    return QWidget::eventFilter(watched, event);
}

void ReceiveFindBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void ReceiveFindBar::retranslate()
{
    m_findLabel->setText(tr("Find"));
    m_edit->setPlaceholderText(tr("Keyword"));
    m_prevButton->setText(tr("Prev"));
    m_prevButton->setToolTip(tr("Previous match (Shift+F3)"));
    m_nextButton->setText(tr("Next"));
    m_nextButton->setToolTip(tr("Next match (F3)"));
    m_caseBox->setText(tr("Case"));
    m_filterBox->setText(tr("Filter"));
    m_closeButton->setToolTip(tr("Close (Esc)"));
    updateStatus();
}
