# Stops at a placeholder (@NAME@) in TEXT that has no value, instead of
# shipping it empty; WHERE names the text in the message.
function(vexlo_check_placeholders text where)
  string(REGEX MATCHALL "@[A-Za-z_][A-Za-z0-9_]*@" placeholders "${text}")
  foreach(placeholder ${placeholders})
    string(REGEX REPLACE "^@(.*)@$" "\\1" name "${placeholder}")
    if(NOT DEFINED ${name})
      message(FATAL_ERROR "${where}: nothing to fill ${name} with")
    endif()
  endforeach()
endfunction()
