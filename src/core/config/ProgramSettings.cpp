#include "core/config/ProgramSettings.h"

namespace corvane3 {

std::array<PlotView, kPlotViewCount> DefaultPlotViews() {
    return {{
        {"Clock Servo", "ClockStuff", {15, 2, 3, 5, 1}},
        {"Zeeman Servo", "ZeemanStuff", {15, 6, 7, 9, 10}},
        {"Gain Servo", "GainStuff", {15, 12, 13, 14, 4}},
        {"CBT Supplies", "CBTSuppliesStuff", {20, 16, 17, 18, 19}},
        {"Power Supplies", "PSStuff", {15, 21, 22, 23, 24}},
        {"System Supplies", "Tq9000Stuff", {36, 35, 34, 33, 32}},
        {"Hops 'n Burps", "FactoryStuff", {15, 26, 27, 28, 29}},
        {"User 1", "User1Stuff", {15, 2, 3, 5, 1}},
        {"User 2", "User2Stuff", {15, 2, 3, 5, 1}},
    }};
}

}  // namespace corvane3
