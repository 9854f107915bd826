#pragma once

// Asks before writing anything; true when the setting was written and the user wants to
// restart now.
bool OfferEnable();
