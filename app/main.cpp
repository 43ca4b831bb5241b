// lumora-connector: the window. It takes no command-line options of its own; Qt's go to the
// application object.
#include "app/connector_app.h"

int main(int argc, char** argv) {
    return runConnector(argc, argv);
}
