// CLoaderApp: kickoff's application object.
#pragma once

#include "framework/app.h"

namespace kickoff {

class CLoaderApp : public CApplication {
protected:
    // Shows the progress window, runs the script and ends the program:
    // the loader has no message loop of its own.
    bool InitInstance() override;
};

}  // namespace kickoff
