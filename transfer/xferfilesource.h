#pragma once

#include "transfer/xferfileinfo.h"
#include "transfer/xfersource.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

// The file being sent, read block by block at any offset so that a block can go again.
class XferFileSource : public XferSource
{
    Q_DECLARE_TR_FUNCTIONS(XferFileSource)

public:
    // On failure `error` gets "Could not open <name>: <reason>".
    bool open(const QString &path, QString *error = nullptr);
    XferFileInfo info() const;

    qint64 size() const override { return m_size; }
    QByteArray read(qint64 offset, qint32 length) override;
    bool hasError() const override { return m_readError; }
    bool isUnchanged() const override;

private:
    QFile m_file;
    QString m_path;
    qint64 m_size = 0;
    QDateTime m_modified;
    bool m_readError = false;
};
