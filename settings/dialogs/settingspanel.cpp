#include "settings/dialogs/settingspanel.h"
#include "ui_settingspanel.h"

#include "codec/wiretextcodecregistry.h"
#include "logging/logname.h"
#include "settings/dialogs/connectionsettingswidget.h"
#include "settings/dialogs/settingschoices.h"

#include <QColorDialog>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <limits>

using namespace SettingsChoices;

namespace {

constexpr int TextFormat = 2;
constexpr int HexFormat = 1;
constexpr int MiB = 1048576;
// The longest auto-send period the pane's own spin box offers: one day.
constexpr int MaxSendIntervalMs = 86400000;

int bytesToMiB(int bytes) { return bytes / MiB; }
int mibToBytes(int mib) { return int(qMin<qint64>(qint64(mib) * MiB, std::numeric_limits<int>::max())); }

QString orDefault(const QString &text, const QString &fallback)
{
    return text.trimmed().isEmpty() ? fallback : text;
}

} // namespace

SettingsPanel::SettingsPanel(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SettingsPanel>())
{
    ui->setupUi(this);
    const QStringList encodings = WireTextCodecRegistry::availableEncodings();
    ui->receiveEncodingBox->addItems(encodings);
    ui->sendEncodingBox->addItems(encodings);
    fillRxLineEndings(ui->cbRxLineEndingMode);
    fillTxLineEndings(ui->cbTxLem);
    fillEnterModes(ui->terminalEnterBox);
    fillChecksums(ui->sendChecksumBox);
    fillSendTimeUnits(ui->sendTimeUnitBox);
    ui->logNameHelpLabel->setText(logNamePlaceholderHelp());

    // Control -> field, one per control type; loading and storing walk this table.
    bind(ui->dtrBox, &FormatSetting::DtrOn);
    bind(ui->rtsBox, &FormatSetting::RtsOn);
    bind(ui->rxAutoFeedLine, &FormatSetting::RxAutoFeedLine);
    bind(ui->autoFeedIntervalSpinBox, &FormatSetting::AutoFeedInterval);
    bind(ui->cbRxLineEndingMode, &FormatSetting::RxLineEndingMode);
    bind(ui->displayTimeBox, &FormatSetting::DisplayMsgTime);
    bind(ui->autoSendBox, &FormatSetting::AutoSend);
    bind(ui->terminalEnterBox, &FormatSetting::TerminalEnterMode);
    bind(ui->displaySendBox, &FormatSetting::DisplaySendMsg);
    bind(ui->supportCommentBox, &FormatSetting::SupportComment);
    bind(ui->formatSendBox, &FormatSetting::FormatSend);
    bind(ui->sendChecksumBox, &FormatSetting::SendChecksum);
    bind(ui->logSaveBox, &FormatSetting::LogSaveFlag);
    bind(ui->logTimestampBox, &FormatSetting::LogTimestampEnabled);
    bind(ui->hourTimestampBox, &FormatSetting::NeedHourTimeStamp);
    bind(ui->rotateAtTimeBox, &FormatSetting::LogRotateAtTime);
    bind(ui->rotateTimeEdit, &FormatSetting::LogRotateTime);
    bind(ui->rotateAtSizeBox, &FormatSetting::LogRotateAtSize);
    bind(ui->rotateSizeSpinBox, &FormatSetting::LogRotateSize, bytesToMiB, mibToBytes);
    bind(ui->formatDisplayColorBox, &FormatSetting::FormatDisplayColor);
    bind(ui->displayBufferSizeSpinBox, &FormatSetting::DisplayBufferSize);
    bind(ui->showLedsBox, &FormatSetting::ShowControlLineLeds);
    addSpecialBindings();

    for (QLineEdit *edit : {ui->rxTimeFormatEdit, ui->txTimeFormatEdit, ui->filePathEdit, ui->logTimestampEdit})
        connect(edit, &QLineEdit::textChanged, this, &SettingsPanel::onRefreshDisplay);
    for (QAbstractButton *button : std::initializer_list<QAbstractButton *>{
             ui->rxTextRadio, ui->txTextRadio, ui->autoSendBox, ui->logSaveBox, ui->logTimestampBox,
             ui->rotateAtTimeBox, ui->rotateAtSizeBox, ui->formatDisplayColorBox})
        connect(button, &QAbstractButton::toggled, this, &SettingsPanel::onRefreshDisplay);
    connect(ui->settingsTabs, &QTabWidget::currentChanged, this, &SettingsPanel::onTabChanged);

    setSettings(FormatSetting::builtInDefaults());
}

SettingsPanel::~SettingsPanel() = default;

void SettingsPanel::bind(QAbstractButton *box, bool FormatSetting::*field)
{
    m_bindings.append({[box, field](const FormatSetting &s) { box->setChecked(s.*field); },
                       [box, field](FormatSetting &s) { s.*field = box->isChecked(); }});
}

void SettingsPanel::bind(QLineEdit *edit, QString FormatSetting::*field)
{
    m_bindings.append({[edit, field](const FormatSetting &s) { edit->setText(s.*field); },
                       [edit, field](FormatSetting &s) { s.*field = edit->text(); }});
}

void SettingsPanel::bind(QSpinBox *spin, int FormatSetting::*field)
{
    m_bindings.append({[spin, field](const FormatSetting &s) { spin->setValue(s.*field); },
                       [spin, field](FormatSetting &s) { s.*field = spin->value(); }});
}

void SettingsPanel::bind(QSpinBox *spin, int FormatSetting::*field, int (*toShown)(int), int (*fromShown)(int))
{
    // The shown unit is coarser than the field: an untouched box must give
    // back the exact value it was loaded with, not the rounded one.
    struct Loaded
    {
        int field = 0;
        int shown = 0;
        bool valid = false;
    };
    auto loaded = std::make_shared<Loaded>();
    m_bindings.append({[spin, field, toShown, loaded](const FormatSetting &s) {
                           spin->setValue(toShown(s.*field));
                           *loaded = {s.*field, spin->value(), true};
                       },
                       [spin, field, fromShown, loaded](FormatSetting &s) {
                           s.*field = loaded->valid && loaded->shown == spin->value() ? loaded->field
                                                                                       : fromShown(spin->value());
                       }});
}

void SettingsPanel::bind(QTimeEdit *edit, QTime FormatSetting::*field)
{
    m_bindings.append({[edit, field](const FormatSetting &s) { edit->setTime(s.*field); },
                       [edit, field](FormatSetting &s) { s.*field = edit->time(); }});
}

void SettingsPanel::bind(QComboBox *box, int FormatSetting::*field)
{
    // A value the list does not hold shows no item and is kept as it is.
    m_bindings.append({[box, field](const FormatSetting &s) { selectData(box, s.*field); },
                       [box, field](FormatSetting &s) {
                           if (box->currentIndex() >= 0 && box->currentData().isValid())
                               s.*field = box->currentData().toInt();
                       }});
}

void SettingsPanel::addSpecialBindings()
{
    m_bindings.append({[this](const FormatSetting &s) { ui->connectionEditor->loadFrom(s); },
                       [this](FormatSetting &s) { ui->connectionEditor->storeTo(s); }});

    m_bindings.append({[this](const FormatSetting &s) {
                           ui->rxTextRadio->setChecked(s.ReceiveMsgForamt == TextFormat);
                           ui->rxHexRadio->setChecked(s.ReceiveMsgForamt != TextFormat);
                           ui->txTextRadio->setChecked(s.SendMsgFormat == TextFormat);
                           ui->txHexRadio->setChecked(s.SendMsgFormat != TextFormat);
                       },
                       [this](FormatSetting &s) {
                           s.ReceiveMsgForamt = ui->rxTextRadio->isChecked() ? TextFormat : HexFormat;
                           s.SendMsgFormat = ui->txTextRadio->isChecked() ? TextFormat : HexFormat;
                       }});

    m_bindings.append({[this](const FormatSetting &s) {
                           ui->receiveEncodingBox->setCurrentIndex(qMax(0, WireTextCodecRegistry::lookup(s.ReceiveEncoding)));
                           ui->sendEncodingBox->setCurrentIndex(qMax(0, WireTextCodecRegistry::lookup(s.SendEncoding)));
                       },
                       [this](FormatSetting &s) {
                           s.ReceiveEncoding = WireTextCodecRegistry::canonicalName(ui->receiveEncodingBox->currentText());
                           s.SendEncoding = WireTextCodecRegistry::canonicalName(ui->sendEncodingBox->currentText());
                       }});

    m_bindings.append({[this](const FormatSetting &s) {
                           ui->rxTimeFormatEdit->setText(s.RxTimeFormat);
                           ui->txTimeFormatEdit->setText(s.TxTimeFormat);
                           ui->logTimestampEdit->setText(s.LogFileTime);
                           ui->filePathEdit->setText(s.LogFilePath);
                       },
                       [this](FormatSetting &s) {
                           s.RxTimeFormat = orDefault(ui->rxTimeFormatEdit->text(), FormatSetting::defaultRxTimeFormat());
                           s.TxTimeFormat = orDefault(ui->txTimeFormatEdit->text(), FormatSetting::defaultTxTimeFormat());
                           s.LogFileTime = ui->logTimestampEdit->text().isEmpty() ? FormatSetting::defaultLogTimeFormat()
                                                                                   : ui->logTimestampEdit->text();
                           s.LogFilePath = orDefault(ui->filePathEdit->text().trimmed(), FormatSetting::defaultLogPath());
                       }});

    // Auto-send period in the chosen unit. A period the unit cannot show
    // exactly is shown in milliseconds rather than rounded away.
    m_bindings.append({[this](const FormatSetting &s) {
                           int unit = s.SendTimeUnit;
                           if (ui->sendTimeUnitBox->findData(unit) < 0 || s.SendInterval % sendUnitFactor(unit) != 0)
                               unit = 0;
                           selectData(ui->sendTimeUnitBox, unit);
                           on_sendTimeUnitBox_currentIndexChanged(ui->sendTimeUnitBox->currentIndex());
                           ui->sendIntervalSpinBox->setValue(s.SendInterval / sendUnitFactor(unit));
                       },
                       [this](FormatSetting &s) {
                           const int unit = ui->sendTimeUnitBox->currentData().toInt();
                           s.SendTimeUnit = unit;
                           s.SendInterval = ui->sendIntervalSpinBox->value() * qMax(1, sendUnitFactor(unit));
                       }});

    m_bindings.append({[this](const FormatSetting &s) {
                           selectData(ui->cbTxLem, s.TxAutoFeedLine ? s.TxLineEndingMode : 0);
                       },
                       [this](FormatSetting &s) {
                           if (ui->cbTxLem->currentIndex() < 0)
                               return;
                           s.TxLineEndingMode = ui->cbTxLem->currentData().toInt();
                           s.TxAutoFeedLine = s.TxLineEndingMode != 0;
                       }});

    m_bindings.append({[this](const FormatSetting &s) {
                           m_font = s.displayFont;
                           m_sendColour = s.SendTextColor;
                           m_receiveColour = s.ReceiveTextColor;
                       },
                       [this](FormatSetting &s) {
                           s.displayFont = m_font;
                           s.SendTextColor = m_sendColour;
                           s.ReceiveTextColor = m_receiveColour;
                       }});
}

void SettingsPanel::setSettings(const FormatSetting &settings)
{
    m_settings = settings;
    loadControls(m_settings);
}

void SettingsPanel::loadControls(const FormatSetting &settings)
{
    for (const Binding &b : std::as_const(m_bindings))
        b.load(settings);
    onRefreshDisplay();
}

void SettingsPanel::storeControls(FormatSetting &settings)
{
    for (const Binding &b : std::as_const(m_bindings))
        b.store(settings);
}

QString SettingsPanel::validate() const
{
    if (ui->logSaveBox->isChecked() && ui->filePathEdit->text().trimmed().size() < 3)
        return tr("Please input correct log file name!");
    return QString();
}

void SettingsPanel::setSessionName(const QString &name)
{
    m_sessionName = name;
    onRefreshDisplay();
}

void SettingsPanel::addPage(QWidget *page, const QString &title)
{
    ui->settingsTabs->addTab(page, title);
}

ConnectionSettingsWidget *SettingsPanel::connectionEditor() const
{
    return ui->connectionEditor;
}

QString SettingsPanel::withLogSuffix(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QStringLiteral(".log");
}

void SettingsPanel::showColour(QWidget *swatch, const QColor &colour)
{
    swatch->setMinimumSize(40, 16);
    swatch->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid palette(mid);")
                              .arg(colour.isValid() ? colour.name() : QStringLiteral("transparent")));
    swatch->setToolTip(colour.isValid() ? colour.name() : QString());
}

void SettingsPanel::onRefreshDisplay()
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->rxTimePreviewLabel->setText(
        now.toString(orDefault(ui->rxTimeFormatEdit->text(), FormatSetting::defaultRxTimeFormat())));
    ui->txTimePreviewLabel->setText(
        now.toString(orDefault(ui->txTimeFormatEdit->text(), FormatSetting::defaultTxTimeFormat())));
    ui->logNameResultLabel->setText(
        resolveLogName(orDefault(ui->filePathEdit->text().trimmed(), FormatSetting::defaultLogPath()), m_sessionName, now));
    ui->fontLabel->setText(QStringLiteral("%1, %2").arg(m_font.family()).arg(m_font.pointSize()));
    ui->fontLabel->setFont(m_font);
    showColour(ui->sendTextColorLabel, m_sendColour);
    showColour(ui->receiveTextColorLabel, m_receiveColour);

    ui->receiveEncodingBox->setEnabled(ui->rxTextRadio->isChecked());
    ui->sendEncodingBox->setEnabled(ui->txTextRadio->isChecked());
    ui->autoFeedIntervalSpinBox->setEnabled(ui->rxAutoFeedLine->isChecked());
    ui->logTimestampEdit->setEnabled(ui->logTimestampBox->isChecked());
    ui->rotateTimeEdit->setEnabled(ui->rotateAtTimeBox->isChecked());
    ui->rotateSizeSpinBox->setEnabled(ui->rotateAtSizeBox->isChecked());
}

void SettingsPanel::onTabChanged(int)
{
    onRefreshDisplay(); // the previews show the current time
}

void SettingsPanel::on_filePathButton_clicked()
{
    const QString name = QFileDialog::getSaveFileName(this, tr("Select Log File"), ui->filePathEdit->text(),
                                                      tr("Log files (*.log);;All files (*.*);;Text files (*.txt)"));
    if (!name.isEmpty())
        ui->filePathEdit->setText(withLogSuffix(name));
}

void SettingsPanel::on_fontPB_clicked()
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, m_font, this);
    if (!ok)
        return;
    // Only family, size and weight are kept with the settings.
    QFont font(chosen.family(), chosen.pointSize());
    font.setWeight(chosen.weight());
    font.setStyleHint(QFont::Monospace);
    m_font = font;
    onRefreshDisplay();
}

void SettingsPanel::on_receiveTextColorPB_clicked()
{
    const QColor colour = QColorDialog::getColor(m_receiveColour, this, tr("Receive Text Color"));
    if (colour.isValid())
        m_receiveColour = colour;
    onRefreshDisplay();
}

void SettingsPanel::on_sendTextColorPB_clicked()
{
    const QColor colour = QColorDialog::getColor(m_sendColour, this, tr("Send Text Color"));
    if (colour.isValid())
        m_sendColour = colour;
    onRefreshDisplay();
}

void SettingsPanel::on_autoFeedIntervalSpinBox_valueChanged(int)
{
    onRefreshDisplay();
}

void SettingsPanel::on_cbRxLineEndingMode_currentIndexChanged(int)
{
    onRefreshDisplay();
}

void SettingsPanel::on_cbTxLem_currentIndexChanged(int)
{
    onRefreshDisplay();
}

void SettingsPanel::on_terminalEnterBox_currentIndexChanged(int)
{
    onRefreshDisplay();
}

void SettingsPanel::on_rxAutoFeedLine_stateChanged(int)
{
    onRefreshDisplay();
}

void SettingsPanel::on_sendTimeUnitBox_currentIndexChanged(int)
{
    // Keep value × factor within what an int and the pane's timer take.
    ui->sendIntervalSpinBox->setMaximum(MaxSendIntervalMs / qMax(1, sendUnitFactor(ui->sendTimeUnitBox->currentData().toInt())));
}
