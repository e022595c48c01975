#include <gtest/gtest.h>

#include "report/log.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // As in the program, the log lock exists before any test thread.
    marvik::logInit();
    int result = RUN_ALL_TESTS();
    marvik::logShutdown();
    return result;
}
