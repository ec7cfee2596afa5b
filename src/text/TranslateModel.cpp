#include "text/TranslateModel.h"

namespace TranslateModel {

// The chooser arrives with the translation card; until then nothing is chosen.
bool chooseDefault(bool firstTime) {
    (void)firstTime;
    return false;
}

} // namespace TranslateModel
