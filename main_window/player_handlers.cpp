// Player configuration menu items and playback.
#include "main_window/tform1.h"

void TForm1::H264VideoPlayer1Click() {}
void TForm1::YUVSequencePlayer1Click() {}
void TForm1::Button7Click() {}
void TForm1::Button8Click() {}
void TForm1::Play(const QString&, const QString&) {}
