# jbbtool's command line end to end, on the real programs (through wine in
# the Windows build):
#
#   cmake -DTOOL=<jbbtool> -DBUILDER=<jbbbuild> [-DEMULATOR=<wine>]
#         -DDATA=<dir of cli/> -DWORK=<scratch dir> -DVERSION=<x.y.z>
#         -DPART=<options|golden|keys|readonly> -P cli.cmake
#
# options   --version, --help of every subcommand, usage errors (exit 2),
#           a missing file (exit 2), a path given without its extension
# golden    a database of mixed-script keys made from cli/keys.txt: its text,
#           CSV and JSON dumps and its statistics are exactly cli/golden.*
#           (UTF-8 whatever the console's code page), and the text dump
#           loads back into a database that dumps the same
# keys      get and dump --prefix with non-ASCII and non-BMP keys as
#           arguments, the database named by an absolute path; delete of
#           such keys given as arguments, in a key file and on standard input
# readonly  verify, stat and dump work on a file that even root cannot open
#           for writing (chattr +i), and leave it byte-identical; compact
#           cannot replace it.  Skipped where chattr +i is not possible.
#
# The Windows build writes CR LF line ends; outputs are compared with LF.

foreach(var TOOL BUILDER DATA WORK VERSION PART)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "cli.cmake: ${var} is not set")
  endif()
endforeach()
set(emulator "")
if(EMULATOR)
  set(emulator ${EMULATOR})
endif()
set(dir ${WORK}/${PART})
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})

# tool(<expected exit code> <output variable> args...): runs jbbtool in dir.
function(tool rc outvar)
  execute_process(COMMAND ${emulator} ${TOOL} ${ARGN} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  if(NOT got EQUAL rc)
    message(FATAL_ERROR "jbbtool ${ARGN}: exit ${got}, expected ${rc}\n${out}${err}")
  endif()
  set(${outvar} "${out}" PARENT_SCOPE)
endfunction()

function(expect_same what got wantfile)
  file(READ ${DATA}/${wantfile} want)
  if(NOT got STREQUAL want)
    file(WRITE ${dir}/${wantfile}.got "${got}")
    message(FATAL_ERROR "${what} differs from ${wantfile}; see ${dir}/${wantfile}.got")
  endif()
endfunction()

function(build name)
  execute_process(COMMAND ${emulator} ${BUILDER} --out ${name} ${ARGN} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "jbbbuild ${ARGN} failed: ${err}")
  endif()
endfunction()

if(PART STREQUAL "options")
  tool(0 out --version)
  if(NOT out STREQUAL "jbbtool ${VERSION}\n")
    message(FATAL_ERROR "--version printed '${out}'")
  endif()
  foreach(cmd verify stat dump load compact salvage get info)
    tool(0 out ${cmd} --help)
    if(NOT out MATCHES "Usage: jbbtool ${cmd}")
      message(FATAL_ERROR "${cmd} --help printed '${out}'")
    endif()
  endforeach()
  tool(2 out)
  tool(2 out frobnicate x)
  tool(2 out verify)
  tool(2 out dump x.jbbdb --format xml)
  tool(2 out salvage x.jbbdb)
  tool(2 out compact x.jbbdb --fill 11)
  tool(2 out verify missing.jbbdb)
  tool(2 out get x.jbbdb)
  tool(2 out dump x.jbbdb --from)
  build(plain.jbbdb --generate 50)
  tool(0 out verify plain)
  if(NOT out MATCHES "plain.jbbdb: sound, 50 entries")
    message(FATAL_ERROR "verify plain printed '${out}'")
  endif()
  build(bad.jbbdb --generate 50 --damage bad-magic)
  tool(2 out verify bad.jbbdb)
  if(NOT out MATCHES "^offset 0: magic is 0x1234")
    message(FATAL_ERROR "verify bad.jbbdb printed '${out}'")
  endif()
  tool(2 out info bad.jbbdb)
  tool(0 out dump plain.jbbdb --prefix /home --to /home/z --format csv)
  tool(1 out get plain.jbbdb /home/nothing)
elseif(PART STREQUAL "golden")
  configure_file(${DATA}/keys.txt ${dir}/keys.txt COPYONLY)
  build(golden.jbbdb --keys keys.txt --seed 3 --activation 1700000000 --validation 1700086400
        --max-size 5368709120 --server SERVER --node NODE1 --fs /home --free-slots 2 --slack 4)
  tool(0 text dump golden.jbbdb)
  expect_same("the text dump" "${text}" golden.txt)
  tool(0 csv dump golden.jbbdb --format csv)
  expect_same("the CSV dump" "${csv}" golden.csv)
  tool(0 json dump golden.jbbdb --format json)
  expect_same("the JSON dump" "${json}" golden.json)
  tool(0 stat stat golden.jbbdb)
  expect_same("stat" "${stat}" golden.stat)
  tool(0 stat stat golden.jbbdb --json)
  expect_same("stat --json" "${stat}" golden.stat.json)
  file(WRITE ${dir}/golden.dump "${text}")
  tool(0 out load golden.dump --out loaded.jbbdb)
  tool(0 again dump loaded.jbbdb)
  expect_same("the dump of the loaded database" "${again}" golden.txt)
  tool(0 out compact golden.jbbdb)
  tool(0 again dump golden.jbbdb)
  expect_same("the dump of the compacted database" "${again}" golden.txt)
elseif(PART STREQUAL "readonly")
  build(ro.jbbdb --generate 500 --free-slots 4)
  execute_process(COMMAND chattr +i ro.jbbdb WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message("SKIPPED: chattr +i is not possible here (${err}); the read-only case needs a file root cannot write")
    return()
  endif()
  file(SHA256 ${dir}/ro.jbbdb before)
  set(failure "")
  foreach(args "verify;ro.jbbdb" "stat;ro.jbbdb" "stat;ro.jbbdb;--json" "dump;ro.jbbdb"
               "dump;ro.jbbdb;--format;csv" "dump;ro.jbbdb;--format;json" "salvage;ro.jbbdb;--out;copy.jbbdb")
    execute_process(COMMAND ${emulator} ${TOOL} ${args} WORKING_DIRECTORY ${dir}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      set(failure "${failure}jbbtool ${args}: exit ${rc}: ${err}\n")
    endif()
  endforeach()
  # Replacing the file fails, and leaves it as it was.
  execute_process(COMMAND ${emulator} ${TOOL} compact ro.jbbdb WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 1)
    set(failure "${failure}compact of an immutable file: exit ${rc}, expected 1\n")
  endif()
  file(SHA256 ${dir}/ro.jbbdb after)
  execute_process(COMMAND chattr -i ro.jbbdb WORKING_DIRECTORY ${dir})
  if(NOT before STREQUAL after)
    set(failure "${failure}the immutable file changed\n")
  endif()
  if(EXISTS ${dir}/ro.jbbdb.bak OR EXISTS ${dir}/ro.jbbdb.jbbtmp)
    set(failure "${failure}compact left a backup or a temporary file\n")
  endif()
  if(failure)
    message(FATAL_ERROR "${failure}")
  endif()
elseif(PART STREQUAL "keys")
  # Keys outside ASCII, and outside the 16-bit plane, given as arguments;
  # the database named by an absolute path, which on Windows begins with
  # "/" as well.
  configure_file(${DATA}/keys.txt ${dir}/keys.txt COPYONLY)
  build(golden.jbbdb --keys keys.txt --seed 3 --activation 1700000000 --validation 1700086400
        --max-size 5368709120 --server SERVER --node NODE1 --fs /home --free-slots 2 --slack 4)
  file(STRINGS ${DATA}/golden.txt rows ENCODING UTF-8)
  foreach(key "/home/a/résumé.txt" "/home/a/日本語/文書.doc" "/home/a/clef𝄞" "/home/a/ＡＢ")
    tool(0 out get ${dir}/golden.jbbdb "${key}")
    set(want "")
    foreach(row IN LISTS rows)
      string(FIND "${row}" "\"${key}\"" at)
      if(at EQUAL 0)
        set(want "${row}\n")
      endif()
    endforeach()
    if(want STREQUAL "" OR NOT out STREQUAL want)
      message(FATAL_ERROR "get ${key} printed '${out}', the dump's row is '${want}'")
    endif()
  endforeach()
  tool(0 out dump ${dir}/golden.jbbdb --prefix "/home/a/日本語" --format csv)
  if(NOT out MATCHES "文書.doc")
    message(FATAL_ERROR "dump --prefix /home/a/日本語 printed '${out}'")
  endif()
  tool(1 out get ${dir}/golden.jbbdb "/home/a/clef𝄞x")
  # delete takes the same keys as arguments, from a key file (CR LF), and
  # from standard input; what it deleted is gone, the rest is there.
  file(COPY_FILE ${dir}/golden.jbbdb ${dir}/del.jbbdb)
  tool(0 out delete ${dir}/del.jbbdb "/home/a/ＡＢ")
  file(WRITE ${dir}/list.txt "/home/a/résumé.txt\r\n/home/a/日本語/文書.doc\r\n")
  tool(0 out delete del.jbbdb --keys-from list.txt)
  file(WRITE ${dir}/stdin.txt "/home/a/clef𝄞\n")
  execute_process(COMMAND ${emulator} ${TOOL} delete del.jbbdb --keys-from - INPUT_FILE ${dir}/stdin.txt
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "delete --keys-from - : exit ${rc}\n${out}${err}")
  endif()
  foreach(key "/home/a/ＡＢ" "/home/a/résumé.txt" "/home/a/日本語/文書.doc" "/home/a/clef𝄞")
    tool(1 out get del.jbbdb "${key}")
  endforeach()
  tool(0 out get del.jbbdb "/home/a/Ωmega" "/home/b")
else()
  message(FATAL_ERROR "cli.cmake: unknown PART ${PART}")
endif()
