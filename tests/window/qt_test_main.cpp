#include "window/form1.h"
#include "window/look.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    nocturo::apply_application_style(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
