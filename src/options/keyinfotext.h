#pragma once

#include <QString>

// The key sequence help shown on the Commands page.
extern const QString KeyInfoText;
