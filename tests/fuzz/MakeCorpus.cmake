# Writes the seed corpora: cmake -DMEDIA=dir -DOUT=dir -DSETTINGS=file -P MakeCorpus.cmake

# One small file of each container; libFuzzer cuts longer ones to its
# -max_len, which keeps the headers.
set(SEEDS still.jpg still.png tone.mp3 tone.wav short.avi truncated.avi nokey.mkv h264_10bit.mkv
    rotated90.mp4 late_video.flv programs.ts empty.mp4)
foreach(target probe engine)
  file(MAKE_DIRECTORY ${OUT}/${target})
  foreach(seed ${SEEDS})
    file(COPY ${MEDIA}/${seed} DESTINATION ${OUT}/${target})
  endforeach()
endforeach()

# Settings inputs: a byte that is the profile number modulo 36, a byte for
# the source picture, one for the zoom mode and crops, then the section's body.
file(MAKE_DIRECTORY ${OUT}/settings)
file(READ ${SETTINGS} Text)
foreach(N RANGE 35)
  string(FIND "${Text}" "[formatInfo${N}]" Start)
  if(Start LESS 0)
    continue()
  endif()
  string(SUBSTRING "${Text}" ${Start} -1 Rest)
  string(FIND "${Rest}" "\n" HeaderEnd)
  math(EXPR BodyStart "${HeaderEnd} + 1")
  string(SUBSTRING "${Rest}" ${BodyStart} -1 Rest)
  string(FIND "${Rest}" "\n[" End)
  if(End GREATER_EQUAL 0)
    math(EXPR End "${End} + 1")
    string(SUBSTRING "${Rest}" 0 ${End} Body)
  else()
    set(Body "${Rest}")
  endif()
  math(EXPR ProfileByte "72 + ${N}")
  math(EXPR ShapeByte "48 + ${N} % 6")
  math(EXPR ZoomByte "48 + ${N} % 16")
  string(ASCII ${ProfileByte} ${ShapeByte} ${ZoomByte} Head)
  file(WRITE ${OUT}/settings/formatInfo${N} "${Head}${Body}")
endforeach()
