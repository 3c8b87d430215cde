#!/usr/bin/env python3
"""Baseline B2: a plain script that loads messages.json with the json module and writes every
message's sender and body to one file."""
import json
import sys

with open(sys.argv[1], encoding="utf-8") as source:
    data = json.load(source)
with open(sys.argv[2], "w", encoding="utf-8") as out:
    for conversation in data["conversations"]:
        for message in conversation["MessageList"]:
            out.write("%s: %s\n" % (message.get("displayName") or "", message.get("content") or ""))
