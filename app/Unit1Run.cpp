#include "app/Unit1.h"

// The download run. It needs the HTTP component KvHTTP1, the image fetcher
// and picture loading; until they are part of the window the button has
// nothing to run.
void TForm1::Button2Click() {}
