#pragma once
// The window's captions in English and Traditional Chinese.
#include <QString>
#include <vector>

class QWidget;

namespace movra {

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
};

const CaptionTable &englishTable();
const CaptionTable &chineseTable();

// Applies the steps to the controls of `form`, found by objectName.
void applyCaptions(QWidget *form, const CaptionTable &table);

} // namespace movra
