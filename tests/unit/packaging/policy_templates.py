#!/usr/bin/env python3
"""policy_templates.py FILE.admx FILE.adml: prints "KEY<TAB>VALUE" for each registry value the
policies write, followed by "<TAB>DATA" where the data is known: the string an enabled policy
writes, or the default the presentation offers for a text; exits 1 when a file is not
well-formed or names a string the ADML lacks."""
import re
import sys
import xml.etree.ElementTree as ElementTree

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"

try:
    admx, adml = (ElementTree.parse(path).getroot() for path in sys.argv[1:3])
except (OSError, ElementTree.ParseError, ValueError) as error:
    sys.exit(f"policy templates: {error}")
defined = {(e.tag, e.get("id")) for e in adml.iter() if e.get("id")}
for element in admx.iter():
    attributes = " ".join(element.attrib.values())
    for kind, name in re.findall(r"\$\((string|presentation)\.([^)]*)\)", attributes):
        if (NS + kind, name) not in defined:
            sys.exit(f"policy templates: the ADML lacks {kind} '{name}'")
defaults = {box.get("refId"): box.findtext(NS + "defaultValue")
            for box in adml.iter(NS + "textBox")}
for policy in admx.iter(NS + "policy"):
    for list_name in ("enabledList", "elements"):
        for holder in policy.iter(NS + list_name):
            for element in holder:
                if not element.get("valueName"):
                    continue
                data = element.findtext(f"{NS}value/{NS}string")
                if data is None:
                    data = defaults.get(element.get("id"))
                print(f"{element.get('key', policy.get('key'))}\t{element.get('valueName')}"
                      + ("" if data is None else f"\t{data}"))
