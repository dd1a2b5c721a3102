// Encoder settings panel and the Encode command.
#include "main_window/tform1.h"

void TForm1::ComboBox1Change() {}
void TForm1::TrackBar1Change() {}
void TForm1::UpDown1Changing() {}
void TForm1::Edit2Change() {}
void TForm1::RadioButton1Enter() {}
void TForm1::RadioButton2Enter() {}
void TForm1::CheckBox6Click() {}
void TForm1::Edit5Change() {}
void TForm1::Edit10Change() {}
void TForm1::Button1Click() {}
void TForm1::Button2Click() {}
void TForm1::Button3Click() {}
