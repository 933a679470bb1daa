#include "ui/meter.h"

// The meter is not drawn yet; the progress dialog that holds it comes with it.
void RegisterMeterClass(HINSTANCE) {}
