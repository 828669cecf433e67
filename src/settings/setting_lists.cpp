#include "settings/setting_lists.h"

#include "platform/numbers.h"

namespace nocturo {

std::string row_text(const ListRows& list, std::int16_t k) {
    return list.prefix + row_number(std::int32_t{list.step} * k) + list.suffix;
}

namespace {

struct ListAndRows {
    ListControl& list;
    const ListRows& rows;
};

template <typename Fn> void for_each_list(Controls& c, Fn fn) {
    const ListAndRows lists[] = {{c.cboPort, kPortRows},
                                 {c.kiestijd, kExposureRows},
                                 {c.Combo1, kStartDelayRows},
                                 {c.Combo2, kExposureCountRows},
                                 {c.Combo3, kPauseRows}};
    for (const ListAndRows& l : lists) {
        fn(l.list, l.rows);
    }
}

} // namespace

void fill_lists(Controls& c) {
    for_each_list(c, [](ListControl& list, const ListRows& rows) {
        for (std::int16_t k = 1; k <= rows.rows; ++k) {
            list.add_item(row_text(rows, k));
        }
    });
}

void select_defaults(Controls& c) {
    for_each_list(c, [](ListControl& list, const ListRows& rows) {
        list.set_list_index(rows.default_index);
    });
}

std::int16_t one_based(std::int16_t list_index) {
    return add16(list_index, 1);
}

std::int16_t exposure_length(std::int16_t list_index) {
    return mul16(one_based(list_index), 5);
}

void Reken_Total_Time(Controls& c, RunPlan& plan) {
    const std::int16_t exposures_total =
        mul16(exposure_length(c.kiestijd.list_index()), one_based(c.Combo2.list_index()));
    const std::int16_t pauses_total =
        mul16(one_based(c.Combo3.list_index()), c.Combo2.list_index());
    const std::int16_t start_delay = one_based(c.Combo1.list_index());

    // The three terms are added as whole numbers; with these lists the sum
    // stays far inside 16 bits, but the sum is checked like every other step.
    plan.totaltime = add16(add16(exposures_total, pauses_total), start_delay);
    plan.schaal2 = plan.totaltime / 1000.0;
    c.Label1.set_caption("Total Time: " + str_number(plan.totaltime) + " Seconds");
}

} // namespace nocturo
