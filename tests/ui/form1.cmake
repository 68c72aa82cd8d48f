# The window's handlers, on the scripted line in virtual time or on real pseudo-terminals.
vcm_add_test(tst_form1port SOURCES tst_form1port.cpp LIBS vcm_ui util WIDGETS)
vcm_add_test(tst_form1gating SOURCES tst_form1gating.cpp LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1monitor SOURCES tst_form1monitor.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1station SOURCES tst_form1station.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1params SOURCES tst_form1params.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1edit SOURCES tst_form1edit.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1motion SOURCES tst_form1motion.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
vcm_add_test(tst_form1scope SOURCES tst_form1scope.cpp FormRig.h LIBS vcm_ui vcm_link_testing WIDGETS)
