#!/usr/bin/python3
# Plays a musician's phone: opens the link given as argument in headless Chromium (fake
# camera and microphone), picks a beat, nudges the tempo, pulls the piano fader down and
# sings into the microphone and films; prints "DRIVEN". On a line on its input a second
# phone takes the camera ("SECOND <its id>"); both keep going until the input closes.
import sys

from tst_phone_page import phone_browser

phone = phone_browser("--ignore-certificate-errors")
try:
    phone.get(sys.argv[1])
    for command in ["BEAT_SELECT:31", "BPM:ADD:5"]:
        phone.find_element("css selector", f'button[data-c="{command}"]').click()
    phone.execute_script("const s = document.querySelector('input[data-cmd=\"VOL:PIANO:\"]'); s.value = 30;"
                         "s.dispatchEvent(new Event('change'))")
    phone.find_element("id", "micBtn").click()
    phone.find_element("id", "camBtn").click()
    print("DRIVEN", phone.execute_script("return PHONE_ID"), flush=True)
    sys.stdin.readline()
    second = phone_browser("--ignore-certificate-errors")
    second.get(sys.argv[1])
    second.find_element("id", "camBtn").click()
    print("SECOND", second.execute_script("return PHONE_ID"), flush=True)
    sys.stdin.read()
finally:
    phone.quit()
