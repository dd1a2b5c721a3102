// Shadows Qt's own header for the targets under runner/ and tools/ (see the top-level CMakeLists.txt).
#error "no Qt Gui here: only main_window/ and dialogs/ may use Qt Gui and Qt Widgets"
