# Programs that run the plug-in's code must look like the host executable:
# image base 0x400000 and the host's fixed range 0x401000..0xA00000 inside
# their own image (a reserved first section), with their code above it.
function(vornak_host_layout target)
  target_link_libraries(${target} PRIVATE vornak_host_image)
  target_link_options(${target} PRIVATE
    -Wl,--image-base=0x400000
    -Wl,--section-start=.host=0x401000
    -Wl,--section-start=.text=0xA00000
    -Wl,--disable-dynamicbase
    -Wl,--require-defined=_HostImageReserve)
endfunction()
