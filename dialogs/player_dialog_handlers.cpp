// Player dialog handlers and the players.cnf file.
#include "dialogs/tform3.h"

void TForm3::Button1Click() {}
void TForm3::BitBtn1Click() {}
void TForm3::BitBtn2Click() {}

namespace kestrune {

void loadPlayers(WorkbenchState&) {}

} // namespace kestrune
