#include "captions/highlight_words.h"

namespace vistrale {

// Positive words that the captions colour, one string separated by "|".
const char* const HIGHLIGHT_WORDS
    = "abundant|accessible|accommodative|accomplished|accurate|achievable|really|adaptable|able|absolute|"
      "acceptable|acclaimed|accommodated|accommodating|accountable|accredited|ace|acknowledged|active|"
      "acute|adaptive|adept|adequate|adjustable|admirable|admired|admiring|adorable|adored|adoring|"
      "advanced|advantageous|adventuresome|adventurous|aesthetic|affable|affectionate|affirmative|"
      "affirming|affluent|affordable|agreeable|agreeing|airy|alert|aligned|alive|alluring|altruistic|"
      "amazed|amazing|ambitious|amiable|ample|amplified|amused|amusing|angelic|animated|appealing|"
      "appetizing|applauded|appreciated|appreciative|appropriate|apt|ardent|aromatic|artful|articulate|"
      "artistic|aspiring|assertive|assiduous|assisting|astonished|astonishing|astounding|astute|athletic|"
      "attentive|attractive|attuned|auspicious|authentic|authoritative|avid|awarded|aware|awesome|"
      "awestruck|balanced|beaming|beauteous|beautiful|befitting|believable|believing|beneficent|beneficial|"
      "benevolent|benign|best|better|blessed|blissful|blithe|blooming|bold|boundless|bountiful|brainy|"
      "brave|bravest|breathtaking|breezy|bright|brightest|brilliant|brisk|budding|buoyant|bustling|calm|"
      "calming|candid|canny|capable|capital|captivating|carefree|careful|celebrated|celestial|centered|"
      "certain|champion|charismatic|charitable|charmed|charming|cheerful|cheery|chic|chipper|chivalrous|"
      "choice|chummy|civil|clarifying|classic|classy|clean|cleanest|clever|coherent|collaborative|colorful|"
      "comely|comfortable|comforting|comical|commanding|commendable|committed|compassionate|compelling|"
      "competent|competitive|complete|complimentary|composed|comprehensive|conciliatory|confident|"
      "confiding|congenial|conquering|conscientious|conscious|considerate|considered|consistent|constant|"
      "constructive|consummate|contemporary|content|convenient|convincing|convivial|cool|cooperative|"
      "coordinated|copious|cordial|correct|courageous|courteous|courtly|craftsmanlike|creative|credible|"
      "crisp|crucial|cuddly|cultivated|cultured|curative|curious|cute|dapper|daring|darling|dashing|"
      "dauntless|dazzled|dazzling|debonair|decent|decisive|dedicated|defined|deft|delectable|deliberate|"
      "delicate|delicious|delighted|delightful|democratic|dependable|deserving|desired|determined|devoted|"
      "devout|dexterous|dignified|diligent|diplomatic|direct|discerning|disciplined|discreet|distinct|"
      "distinctive|distinguished|divine|dreamlike|dreamy|driven|durable|dutiful|dynamic|eager|earthy|easy|"
      "easygoing|ebullient|eclectic|economical|ecstatic|edifying|educated|effective|effectual|efficient|"
      "effortless|elaborate|elated|electric|electrifying|elegant|elevated|elite|eloquent|emerging|eminent|"
      "empowered|empowering|enabled|enchanted|enchanting|encouraged|encouraging|endearing|endless|endowed|"
      "enduring|energized|energizing|engaged|engaging|engrossing|enhanced|enhancing|enjoyable|enjoyed|"
      "enlightened|enlightening|enriching|enterprising|entertained|entertaining|enthralled|enthralling|"
      "enthusiastic|enticing|entranced|entrancing|epic|equal|equitable|established|esteemed|estimable|"
      "eternal|ethereal|ethical|euphoric|evergreen|evolved|exact|exalting|excellent|excelling|exceptional|"
      "excited|exciting|exclusive|exemplary|exhaustive|exhilarating|exotic|experienced|expert|expressive|"
      "exquisite|extraordinary|exuberant|exultant|fabulous|facile|facilitating|fair|famous|fancy|fantastic|"
      "fascinating|fashionable|fast|faultless|favorable|favored|favorite|fearless|feasible|felicitous|"
      "fertile|fervent|festive|fetching|fine|finest|firm|first|fit|fitting|flavorful|flawless|fleet|"
      "flexible|flourishing|flowing|fluent|focused|fond|foremost|forgiving|forthright|fortified|fortunate|"
      "forward|fragrant|frank|free|freed|fresh|friendliest|friendly|frolicsome|fruitful|fulfilled|"
      "fulfilling|full|fulsome|fun|funny|futuristic|gainful|gallant|generous|genius|gentle|genuine|gifted|"
      "giving|glad|glamorous|gleaming|glistening|glittering|glorious|golden|good|goodhearted|goodly|"
      "gorgeous|gourmet|graced|graceful|gracious|grand|grateful|gratified|great|greatest|gregarious|"
      "groundbreaking|grounded|growing|guiding|gutsy|hallowed|handsome|handy|hardworking|harmonious|"
      "harmonized|healing|healthy|heartening|heartfelt|heartwarming|hearty|heavenly|helpful|heralded|"
      "heroic|high|hilarious|holistic|honest|honorable|honored|hopeful|hospitable|humane|humble|humorous|"
      "hygienic|ideal|idealistic|illuminating|illustrative|illustrious|imaginative|immaculate|immense|"
      "immortal|impassioned|impeccable|imperial|important|impressed|impressive|improved|improving|incisive|"
      "inclusive|incomparable|indebted|independent|indispensable|industrious|inexpensive|infallible|"
      "influential|informative|ingenious|innocent|innovative|insightful|inspired|inspiring|instinctive|"
      "instructive|instrumental|integral|integrated|intellectual|intelligent|intelligible|intentional|"
      "interesting|intimate|intrepid|intuitive|invaluable|inventive|invigorating|invincible|inviting|"
      "involved|irresistible|jazzy|jolly|jovial|joyful|joyous|jubilant|judicious|just|keen|kind|"
      "kindhearted|knowledgeable|lasting|laudable|lavish|leading|learned|legendary|legitimate|leisurely|"
      "level|liberal|lifelong|light|lighthearted|likable|liked|limber|limitless|literate|lively|lofty|"
      "logical|lovable|lovely|loving|loyal|lucid|lucky|luminous|lush|lustrous|luxurious|magical|"
      "magnificent|manageable|mannerly|marketable|marvelous|masterful|masterly|mature|maximal|meaningful|"
      "measured|mellow|melodious|memorable|merciful|merry|mesmerizing|meticulous|mighty|mindful|miraculous|"
      "mirthful|moderate|modern|modest|momentous|monumental|moral|motivated|motivating|moving|"
      "multitalented|musical|mutual|natural|necessary|neighborly|newsworthy|nice|nifty|nimble|noble|"
      "notable|noted|noteworthy|nourishing|nurturing|nutritious|objective|obliging|observant|open|"
      "openhearted|opportune|optimal|optimistic|opulent|orderly|original|ornate|outgoing|outspoken|"
      "outstanding|overjoyed|painstaking|palatable|paramount|passionate|patient|peaceful|peachy|peerless|"
      "perceptive|perfect|perky|perpetual|persistent|personable|personalized|persuasive|philanthropic|"
      "philosophical|picturesque|pioneering|plausible|playful|pleasant|pleased|pleasing|pleasurable|"
      "plentiful|plush|poetic|poised|polished|polite|popular|positive|potent|powerful|practical|pragmatic|"
      "praiseworthy|precise|preeminent|premier|premium|prepared|present|prestigious|pretty|principled|"
      "pristine|prized|prodigious|productive|proficient|profitable|profound|progressive|prominent|"
      "promising|prompt|proper|propitious|protective|proud|providential|prudent|punctual|pure|purified|"
      "purposeful|quaint|qualified|quality|quick|quirky|radiant|rapid|rapturous|rare|rational|ravishing|"
      "readable|ready|real|realistic|reassuring|receptive|reciprocal|recognized|recommended|refined|"
      "reformed|refreshing|regal|regenerative|reinvigorated|rejuvenating|relaxed|relaxing|relevant|"
      "reliable|reliant|relieved|remarkable|renewed|renowned|reputable|resilient|resourceful|respected|"
      "respectful|resplendent|responsible|responsive|restful|restorative|restored|revered|revolutionary|"
      "rhythmic|rich|right|righteous|rightful|robust|romantic|rosy|rousing|sacred|safe|saintly|salubrious|"
      "sanguine|satisfied|satisfying|savory|savvy|scenic|scholarly|scintillating|seasoned|seemly|selective|"
      "selfless|sensational|sensible|sensitive|sentimental|serendipitous|serene|settled|shapely|sharp|"
      "shining|shiny|shipshape|significant|silky|simple|sincere|skilled|skillful|sleek|smart|smooth|snappy|"
      "snug|soaring|sociable|soft|solid|soothing|sophisticated|soulful|sound|sparkling|sparkly|special|"
      "spectacular|speedy|spellbinding|spirited|spiritual|splendid|spontaneous|sporty|spotless|stable|"
      "stainless|stalwart|stately|statuesque|staunch|steadfast|steady|stellar|sterling|stimulating|stout|"
      "strategic|strengthened|striking|strong|studious|stunned|stunning|stupendous|sturdy|stylish|sublime|"
      "substantial|subtle|successful|succinct|sufficient|suitable|suited|sumptuous|sunny|super|superb|"
      "superlative|supportive|supreme|sure|surprised|surprising|sustainable|sustained|sweet|swift|"
      "sympathetic|tactful|talented|tasteful|tasty|teeming|tenacious|tender|terrific|thankful|thorough|"
      "thoughtful|thrilled|thrilling|thriving|tidy|timeless|timely|tireless|tolerant|top|topnotch|touching|"
      "traditional|trailblazing|tranquil|transformative|transparent|treasured|tremendous|trendy|trim|"
      "triumphant|true|trusted|trusting|trustworthy|truthful|tuneful|ultimate|unassuming|unbeatable|"
      "unbiased|uncommon|unconditional|undaunted|understanding|unerring|unfailing|unflappable|"
      "unforgettable|unified|unique|united|unmatched|unrivaled|unselfish|upbeat|uplifting|upright|"
      "upstanding|usable|useful|valiant|valid|valuable|valued|vaunted|venerable|versatile|vibrant|"
      "victorious|vigilant|vigorous|vindicated|virtuous|visionary|vital|vivacious|vivid|wanted|warm|"
      "warmhearted|wealthy|welcome|welcoming|well|whimsical|whole|wholehearted|wholesome|winning|winsome|"
      "wise|witty|won|wonderful|wondrous|workable|worldly|worshipful|worthwhile|wowed|worthy|young|"
      "youthful|zippy";

QStringList calendarWords()
{
    return {"january", "february", "march", "april", "may", "june", "july", "august", "september", "october",
        "november", "december", "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec",
        "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday", "mon", "tue", "wed", "thu", "fri",
        "sat", "sun"};
}

QString highlightPatternText()
{
    return "\\b(" + QString::fromLatin1(HIGHLIGHT_WORDS) + "|" + calendarWords().join('|') + ")\\b";
}

const QRegularExpression& highlightPattern()
{
    static const QRegularExpression reg(highlightPatternText(), QRegularExpression::CaseInsensitiveOption);
    return reg;
}

} // namespace vistrale
