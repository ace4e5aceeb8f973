#include "package/SkinLayout.h"

const std::vector<std::string>& SkinImageNames() {
  static const std::vector<std::string> names = {
      "background",       "btn_cz_normal",     "btn_gw_normal",   "btn_lt_normal",    "btn_start_normal",
      "btn_zc_normal",    "cb_normal",         "close_normal",    "frm_login",        "min_normal",
      "pic_slogan",       "Progress_bk",       "Progress_all",    "server_bk_active", "server_bk_normal",
      "server_new",       "btn_cz_active",     "btn_cz_down",     "btn_gw_active",    "btn_gw_down",
      "btn_lt_active",    "btn_lt_down",       "btn_start_active", "btn_start_disable", "btn_start_down",
      "btn_zc_active",    "btn_zc_down",       "cb_active",       "cb_down",          "close_active",
      "close_down",       "min_active",        "min_down"};
  return names;
}

const std::vector<TPositionRecord>& PositionRecords() {
  // Three labels name another control than the one placed; they are the log
  // texts the launcher has always written and stay as they are.
  static const std::vector<TPositionRecord> records = {
      {"picSlogan", {"picSlogan X", "picSlogan Y", "picSlogan W", "picSlogan H"}, false},
      {"wb", {"wb X", "wb Y", "wb W", "wb H"}, false},
      {"picLogin", {"picLogin X", "picLogin Y", "picLogin W", "picLogin H"}, false},
      {"lbLstSelSrv", {"LstSelSrv X", "LstSelSrv Y", "LstSelSrv W", "LstSelSrv H"}, false},
      {"btnSelMem", {"btnSelMem X", "btnSelMem Y", "btnSelMem W", "btnSelMem H"}, false},
      {"lbMember", {"lbMember X", "lbMember Y", "", ""}, true},
      {"btnSelServer", {"btnSelServer X", "btnSelServer Y", "CurSelSrv W", "btnSelServer H"}, false},
      {"lbCurSelSrv", {"lbCurSelSrv X", "lbCurSelSrv Y", "", ""}, true},
      {"LGLabel1", {"LGLabel1 X", "LGLabel1 Y", "LGLabel1 W", "LGLabel1 H"}, false},
      {"LGStart", {"LGStart X", "LGStart Y", "LGStart W", "LGStart H"}, false},
      {"LBStatus", {"LBStatus X", "LBStatus Y", "LBStatus W", "LBStatus H"}, false},
      {"LGPTotal", {"LGPTotal X", "LGPTotal Y", "LGPTotal W", "LBStatus H"}, false},
      {"LGCurrent", {"LGCurrent X", "LGCurrent Y", "LGCurrent W", "LGCurrent H"}, false},
      {"lbIngUpdate", {"lbIngUpdate X", "lbIngUpdate Y", "", ""}, true},
      {"LGClose", {"LGClose X", "LGClose Y", "LGClose W", "lbIngUpdate H"}, false},
      {"LGmin", {"LGmin X", "LGmin Y", "LGmin W", "LGmin H"}, false},
      {"LGBtn1", {"LGBtn1 X", "LGBtn1 Y", "LGBtn1 W", "LGBtn1 H"}, false},
      {"LGBtn2", {"LGBtn2 X", "LGBtn2 Y", "LGBtn2 W", "LGBtn2 H"}, false},
      {"LGBtn3", {"LGBtn3 X", "LGBtn3 Y", "LGBtn3 W", "LGBtn3 H"}, false},
      {"LGBtn4", {"LGBtn4 X", "LGBtn4 Y", "LGBtn4 W", "LGBtn4 H"}, false},
  };
  return records;
}
