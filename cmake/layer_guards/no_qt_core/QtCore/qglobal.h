// Shadows Qt's own header for the targets under tools/ (see the top-level CMakeLists.txt).
#error "tools/ uses no Qt: the tools and their libraries are plain C++"
