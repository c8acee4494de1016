// Positions (twips) shared by the panels beside the serial frame, and the one way their rows
// are laid out.
#pragma once

#include "prompt.h"

#include <QLabel>
#include <QVector>

constexpr int kPanelTop = 120;
constexpr int kPanelWidth = 3255;
constexpr int kPanelHeight = 6855;
constexpr int kFirstPanelLeft = 2640;
constexpr int kSecondPanelLeft = 6000;
constexpr int kOneColumnWidth = 6030;
constexpr int kTwoColumnWidth = 9375;

// Where a panel's rows go (twips). Row i's top is top + pitch * i; its caption sits captionDrop
// below that and is 255 high, its value or indicator starts at the top. Past perColumn rows (0:
// never) the rows start again at the top of a next column, columnShift to the right.
struct RowPlan {
    int top, pitch;
    int captionLeft, captionDrop, captionWidth;
    int valueLeft, valueWidth, valueHeight;
    int perColumn = 0;
    int columnShift = 0;
};

// Places caption i and value i at row i of plan.
template <typename Value>
void layOutRows(const QVector<QLabel *> &captions, const QVector<Value *> &values, const RowPlan &plan)
{
    for (int i = 0; i < values.size(); ++i) {
        const int column = plan.perColumn > 0 ? i / plan.perColumn : 0;
        const int top = plan.top + (plan.perColumn > 0 ? i % plan.perColumn : i) * plan.pitch;
        const int shift = column * plan.columnShift;
        captions[i]->setGeometry(twips(plan.captionLeft + shift), twips(top + plan.captionDrop),
                                 twips(plan.captionWidth), twips(255));
        values[i]->setGeometry(twips(plan.valueLeft + shift), twips(top), twips(plan.valueWidth),
                               twips(plan.valueHeight));
    }
}
