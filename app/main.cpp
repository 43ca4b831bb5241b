// lumora-connector: the window. It takes no command-line options of its own; Qt's go to the
// application object.
#include "app/connector_app.h"
#include "platform/program_version.h"

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-connector")) {
        return 0;
    }
    return runConnector(argc, argv);
}
