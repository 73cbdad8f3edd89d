# The module built with a site lock, driven end to end through the page host
# sited on a given page address: an allowed page works; another host, http
# for an https entry, a look-alike host, no site at all, a hostile frame in an
# allowed page, a document whose address is unknown and a page that lowered
# document.domain are refused.
set(TRV_TEST_SITES "https://*.tarvosk.co.kr;https://files.tarvosk.co.kr:8443")
trv_add_control_module(TRVControlSiteLock ${CMAKE_BINARY_DIR}/test-modules/site-lock)
trv_set_allowed_sites(TRVControlSiteLock "${TRV_TEST_SITES}")
set(TRV_SITE_LOCK_DLL "Z:${CMAKE_BINARY_DIR}/test-modules/site-lock/TRVControl.DLL")
string(REPLACE "/" "\\" TRV_SITE_LOCK_DLL "${TRV_SITE_LOCK_DLL}")

# name|page address (none: no site)[|document address[|document.domain]]|page function|line
# A frame's document counts, not only the top-level page.
foreach(case
    "allowed|https://www.tarvosk.co.kr/share/index.html|Probe|site lock: allowed, events 1"
    "allowed_port|https://files.tarvosk.co.kr:8443/up|Probe|site lock: allowed, events 1"
    "other_host|https://evil.example/|Probe|site lock: refused 0x80070005, events 0"
    "http_for_https|http://www.tarvosk.co.kr/|Probe|site lock: refused 0x80070005, events 0"
    "look_alike|https://tarvosk.co.kr.evil.example/|Probe|site lock: refused 0x80070005, events 0"
    "no_site|none|ProbeAll|refused 12 of 12, events 0"
    "allowed_frame|https://www.tarvosk.co.kr/|https://files.tarvosk.co.kr:8443/f|Probe|site lock: allowed, events 1"
    "hostile_frame_in_allowed_page|https://www.tarvosk.co.kr/|https://evil.example/f|ProbeAll|refused 12 of 12, events 0"
    "allowed_frame_in_hostile_page|https://evil.example/|https://www.tarvosk.co.kr/f|Probe|site lock: refused 0x80070005, events 0"
    "document_unknown|https://www.tarvosk.co.kr/|none|ProbeAll|refused 12 of 12, events 0"
    "domain_is_the_host|https://www.tarvosk.co.kr/|https://www.tarvosk.co.kr/|WWW.tarvosk.co.kr|Probe|site lock: allowed, events 1"
    "lowered_domain_shares_the_window|https://www.tarvosk.co.kr/|https://www.tarvosk.co.kr/|tarvosk.co.kr|ProbeAll|refused 12 of 12, events 0")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 address)
  list(GET parts -2 function)
  list(GET parts -1 line)
  set(site --site "${address}")
  if(address STREQUAL "none")
    set(site "")
  endif()
  list(LENGTH parts fields)
  if(fields GREATER 4)
    list(GET parts 2 document)
    list(APPEND site --document "${document}")
  endif()
  if(fields EQUAL 6)
    list(GET parts 3 domain)
    list(APPEND site --domain "${domain}")
  endif()
  add_test(NAME pagehost_site_lock_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/pagehost/check-page 0
            ${CMAKE_SOURCE_DIR}/tests/pagehost/site-lock.html
            --module "${TRV_SITE_LOCK_DLL}" ${site} --call ${function} -- "^alert: ${line}$")
  set_tests_properties(pagehost_site_lock_${name} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${TRV_WINE_ENV}" TIMEOUT 120 RUN_SERIAL TRUE)
endforeach()
