// Gilbert channel run.
#include "main_window/tform1.h"

void TForm1::Button4Click() {}
void TForm1::Button9Click() {}
