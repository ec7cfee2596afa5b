// pictolarium-decode: decodes one picture or PDF page for the program, under limits on time and memory,
// so that a hostile file costs at most this process.

#include "PageFields.h"
#include "imaging/IsolatedDecode.h"

int main(int argc, char** argv) {
    return IsolatedDecode::childMain(argc, argv, PageFields::drawn, PageFields::turn, PageFields::upright,
                                     PageFields::origin);
}
