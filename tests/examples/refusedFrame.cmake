# Runs the C example on a one-frame sequence whose intrinsics are for another
# image size: the push is refused, and the example must say why in the
# engine's words and exit with 1. Run with -DEXAMPLE, -DEMULATOR (what runs
# it in a cross build, e.g. Wine), -DIMAGE, -DWORK and -DWORK_ARGUMENT (WORK as
# the program names it).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
configure_file(${IMAGE} ${WORK}/00001.png COPYONLY)
file(WRITE ${WORK}/sequence.json [[
{"intrinsics": {"width": 640, "height": 480, "fx": 500, "fy": 500, "ppx": 320, "ppy": 240},
 "frames": [{"image": "00001.png", "timestamp": 0}]}
]])
execute_process(COMMAND ${EMULATOR} ${EXAMPLE} ${WORK_ARGUMENT} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(expected "frame 0: the push failed with status 2: quiloHeadTrackingEnginePushFrame: the intrinsics are for 640 x 480 pixels, the image is 512 x 512")
string(FIND "${err}" "${expected}" at)
if(NOT code EQUAL 1 OR at EQUAL -1)
  message(FATAL_ERROR "expected exit code 1 and the line\n  ${expected}\non standard error; got ${code} and\n${err}\n${out}")
endif()
message(STATUS "refused with its reason: ${expected}")
