# Reads the "arrows" block of docs/architecture.md, the one list of the parts
# and of what each may use:
#   PART -> PART PART/HEADER.h ...
# where a header named alone is the only one of its part that may be used.
# Sets `arrow_parts` (in the block's order) and, per part, `arrow_uses_PART`.
function(ring2osc_read_arrows doc)
  file(STRINGS ${doc} lines)
  set(in_block OFF)
  set(parts)
  foreach(line IN LISTS lines)
    if(line STREQUAL "```arrows")
      set(in_block ON)
    elseif(in_block AND line STREQUAL "```")
      break()
    elseif(in_block AND line MATCHES "^([a-z]+) *->(.*)$")
      set(part ${CMAKE_MATCH_1})
      string(STRIP "${CMAKE_MATCH_2}" uses)
      string(REGEX REPLACE " +" ";" uses "${uses}")
      list(APPEND parts ${part})
      set(arrow_uses_${part} "${uses}" PARENT_SCOPE)
    endif()
  endforeach()
  if(NOT parts)
    message(FATAL_ERROR "${doc} has no arrows block")
  endif()
  set(arrow_parts ${parts} PARENT_SCOPE)
endfunction()

# The parts whose headers .clang-tidy checks, which must be the arrows' parts.
function(ring2osc_check_tidy_parts config parts)
  file(STRINGS ${config} filter REGEX "^HeaderFilterRegex:")
  string(REGEX REPLACE "^HeaderFilterRegex: '\\((.*)\\)/'$" "\\1" filter "${filter}")
  string(REPLACE "|" ";" tidied "${filter}")
  list(SORT tidied)
  list(SORT parts)
  if(NOT tidied STREQUAL parts)
    message(FATAL_ERROR "${config}: HeaderFilterRegex names the parts \"${tidied}\", "
                        "the arrows in docs/architecture.md \"${parts}\"")
  endif()
endfunction()
