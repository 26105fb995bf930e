#pragma once
// The window's captions in English and Traditional Chinese.
#include "language.h"
#include "reason.h"

#include <QString>
#include <vector>

class QWidget;

namespace movra {

// A value's tooltip, and the health tip's answer time when all answers took the same.
QString answerTimeText(int ms, Language language);
// How late a meter answers, seconds: "0.35".
QString latenessText(double seconds);

// One step of a caption routine: set a control's font size or its caption.
struct CaptionStep {
    enum Kind { FontSize, Caption } kind;
    const char *control;
    const char *text;  // Caption: UTF-8 text
    double points;     // FontSize
};

struct CaptionTable {
    std::vector<CaptionStep> steps; // in the order they are applied
    QString connectHint;            // two lines joined by CR LF
    Language language = Language::English; // the language of the texts below
};

const CaptionTable &englishTable();
const CaptionTable &chineseTable();

// Why a request gave no value, in the table's language; for None how soon
// its answer came, empty when that is not known.
QString reasonText(const Reason &reason, const CaptionTable &table);

// Applies the steps to the controls of `form`, found by objectName.
void applyCaptions(QWidget *form, const CaptionTable &table);

} // namespace movra
