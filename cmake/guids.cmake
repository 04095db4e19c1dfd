# The fixed identifiers of the type library, the class and its interfaces.
# Every file that needs one (IDL, registration script) is generated from here.
set(QARDEX_LIBID "199A7ACB-CA3C-4352-A760-556EA08AB471")
set(QARDEX_CLSID "F6885F44-A5ED-4F29-897A-52DFD31A5999")
set(QARDEX_IID_ITWQARDEX "79998B7B-3525-40AE-B824-52111CDA5C36")
set(QARDEX_IID_SITELOCK "76FED264-D7C0-479A-85CD-7D3102BF9376")
