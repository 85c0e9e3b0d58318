#pragma once

#include "listing/ListingModel.h"

#include <QString>

// A listing row's ten texts as strings, for tests that fill a model by hand. It converts to the
// views ListingModel::addRow takes, which copies them before the temporary row goes.
struct RowTexts {
    QString name, folder, sizeText, dateText, durationText, bitrateText;
    QString typeName, sizeKey, dateKey, bitrateKey;

    operator treelan::FileEntryView() const { // NOLINT(google-explicit-constructor)
        return {name,        folder,   sizeText, dateText, durationText,
                bitrateText, typeName, sizeKey,  dateKey,  bitrateKey};
    }
};
