#pragma once
// The language translations go into.

namespace TranslateModel {

// Runs the modal "Translation Language" chooser; true when the user confirmed a language.
bool chooseDefault(bool firstTime);

} // namespace TranslateModel
