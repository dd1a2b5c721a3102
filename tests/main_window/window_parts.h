#pragma once
// The tests' one way into the main window's private parts (controls,
// workbench state, prompts): ui(form).Edit1, ui(form).state.
#include "main_window/tform1.h"

#include <memory>

namespace kestrune::testing {

struct WindowParts {
    static TForm1Parts& of(TForm1& form) { return form; }
    static const TForm1Parts& of(const TForm1& form) { return form; }
};

inline TForm1Parts& ui(TForm1& form) { return WindowParts::of(form); }
inline const TForm1Parts& ui(const TForm1& form) { return WindowParts::of(form); }
inline TForm1Parts& ui(const std::unique_ptr<TForm1>& form) { return WindowParts::of(*form); }

} // namespace kestrune::testing
