// Decode command.
#include "main_window/tform1.h"

void TForm1::Button5Click() {}
void TForm1::Button6Click() {}
void TForm1::Button10Click() {}
void TForm1::moveDecodedOutput() {}
