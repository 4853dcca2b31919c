#pragma once

#include "settings/formatsetting.h"
#include "settings/lastsettings.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// The JSON form of the settings that settings sync keeps in the account: the
// preferences record, and, under "ports", every pane's settings by port key.
// Readers that do not know "ports" still read the preferences.

inline constexpr int SessionSettingsVersion = 1;
QString sessionSettingsSchema();

// Builds the document; `send_history` only when includeSendHistory is set.
QJsonObject sessionSettingsToJson(const LastSettings &record, const QString &clientId, const QString &deviceName,
                                  int language, bool includeSendHistory);

// Checks the schema and version and copies every present value into `record`
// through the same rules as the preferences reader: a value of the wrong type or
// out of range keeps the field. `language` (optional) receives "language" when
// the document has it. False, with `record` untouched, for another schema or version.
bool sessionSettingsFromJson(const QJsonObject &document, LastSettings &record, int *language = nullptr);

// One pane in the document.
struct SessionPort
{
    QString portKey;
    FormatSetting settings;
};

// Adds the panes as "ports"; each carries the document's connection and display
// values and, with includeSendHistory, its send history.
void addSessionPorts(QJsonObject &document, const QList<SessionPort> &ports, bool includeSendHistory);

// The panes of a document, each read on top of base(its port key): the fields the
// document does not carry keep base's values. Empty when the document has no "ports".
QList<SessionPort> sessionPortsFromJson(const QJsonObject &document,
                                        const std::function<FormatSetting(const QString &portKey)> &base);

// The local document with the cloud's lists merged in: ports matched by port key
// (a port on both sides keeps the local settings), cloud-only ports added while
// fewer than maxPorts are listed; host and send histories are the local entries
// followed by the cloud's, without repeats.
QJsonObject mergeSessionDocuments(const QJsonObject &local, const QJsonObject &cloud, int maxPorts);
