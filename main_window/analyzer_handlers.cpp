// Stream analyzer: analyzer runs, the NAL unit map, inspection and removal.
#include "main_window/tform1.h"

void TForm1::AnalyzeRun() {}
void TForm1::ComboBox2Change() {}
void TForm1::StreamAnalyze() {}
void TForm1::StringGrid1SelectCell(int column, int row)
{
    state.selectedColumn = column;
    state.selectedRow = row;
}
void TForm1::Properties1Click() {}
void TForm1::Delete1Click() {}
