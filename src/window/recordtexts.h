#pragma once
// The records' rows of one request in the captions' language, and the texts
// of the recording: its menu items, its mark on the window and its fault.
#include "captions.h"
#include "commands.h"
#include "records.h"

#include <QDateTime>
#include <vector>

namespace movra {

// "connect", "manual", "scan", "search"
QString senderName(Exchange::Sender sender);
// Late or stray bytes taken with the request first, on a row of their own,
// then the request's row. `at`: the wall clock as the outcome was known.
std::vector<RecordRow> recordRows(const Exchange &exchange, const QDateTime &at, const CaptionTable &table);

QString recordMenuText(Language language);
QString openRecordsMenuText(Language language);
QString saveAsMenuText(Language language);

// The recording's mark on the window and its tip: while it records, where
// to; after a fault, why it stopped; empty when it is off.
struct RecordingLook {
    QString text;
    QString tip;
};
RecordingLook recordingLook(const Recorder &recorder, Language language);
// A log not saved: why, on the mark; and where to, in its tip.
RecordingLook saveFailedLook(const QString &path, const QString &why, Language language);

} // namespace movra
